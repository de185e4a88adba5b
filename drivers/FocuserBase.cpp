// Members that the built-in focuser and the second focuser share.
#include "drivers/FocuserBase.h"

#include "automation/ErrorInfo.h"
#include "device/DeviceRules.h"

namespace velq3 {

CFocuserBase::CFocuserBase(DriverContext& ctx, const char* className, const char* progId, int motor,
                           ModeCondition modeOk)
    : DriverObject(ctx, className, progId), m_Motor(motor), m_ModeOk(std::move(modeOk)) {}

HRESULT CFocuserBase::get_Link(VariantBool* value) { return GetConnection("get_Link", value); }

HRESULT CFocuserBase::put_Link(VariantBool value) { return PutConnection("put_Link", value, m_ModeOk); }

HRESULT CFocuserBase::get_Absolute(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_TRUE;
    m_FW.Log("%s::get_Absolute(%i)\n", m_ClassName, RawValue(VARIANT_TRUE));
    return S_OK;
}

HRESULT CFocuserBase::get_IsMoving(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(m_FW.IsBusy());
    m_FW.Log("%s::get_IsMoving(%i)\n", m_ClassName, RawValue(*value));
    return S_OK;
}

HRESULT CFocuserBase::get_MaxIncrement(std::int32_t* value) {
    if (!value) return E_POINTER;
    *value = kMaxIncrement;
    m_FW.Log("%s::get_MaxIncrement(%i)\n", m_ClassName, kMaxIncrement);
    return S_OK;
}

HRESULT CFocuserBase::get_MaxStep(std::int32_t* value) {
    if (!value) return E_POINTER;
    *value = m_FW.AscomMaxFocusPos;
    m_FW.Log("%s::get_MaxStep(%i)\n", m_ClassName, *value);
    return S_OK;
}

HRESULT CFocuserBase::get_Position(std::int32_t* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_Position");
    const std::int32_t device = MotorPosition();
    // Not carried by the status, or lost by a failed move: not reported, and not asked of the
    // device either (the status poll or the next move tells it again).
    if (!PositionKnown(device)) {
        m_FW.Log("%s::get_Position() unknown\n", m_ClassName);
        return E_FAIL;
    }
    *value = ClientFocuserPosition(device, m_FW.AscomFocusShift);
    m_FW.Log("%s::get_Position(%i)\n", m_ClassName, device);
    return S_OK;
}

HRESULT CFocuserBase::get_StepSize(double* value) {
    if (!value) return E_POINTER;
    *value = m_FW.StepLenInMicrons;
    m_FW.Log("%s::get_StepSize(%f)\n", m_ClassName, *value);
    return S_OK;
}

HRESULT CFocuserBase::Halt() {
    m_FW.Log("%s::Halt()\n", m_ClassName);
    return ReportError(IFocuser::kIid, m_ProgId, "Not Supported", DISP_E_EXCEPTION);
}

HRESULT CFocuserBase::Move(std::int32_t position) {
    const std::int64_t target = std::int64_t{position} - m_FW.AscomFocusShift;
    m_FW.Log("%s::Move(%i)\n", m_ClassName, static_cast<int>(target));
    const auto deviceTarget = DeviceFocuserTarget(position, m_FW.AscomFocusShift);
    if (!deviceTarget) return E_INVALIDARG;
    return ResultOf(m_FW.GoToPosition(*deviceTarget, m_Motor));
}

HRESULT CFocuserBase::SetupDialog() { return ShowSetupDialog(); }

bool CFocuserBase::SelectTemperature(double& value) const {
    return velq3::SelectTemperature(m_FW.Status(), m_FW.SensorCount, m_FW.AscomPreferredTermometer, value);
}

} // namespace velq3
