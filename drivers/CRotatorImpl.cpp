// Rotator members: angles from and to the second motor's steps, with N = `MaxSteps` steps
// per turn. Targets keep the sign of the dividend and are not folded into 0..N-1.
#include "drivers/CRotatorImpl.h"

#include "automation/ErrorInfo.h"
#include "device/DeviceMoves.h"
#include "device/DeviceRules.h"
#include "drivers/DriverClasses.h"

namespace velq3 {

HRESULT CRotatorImpl::get_CanReverse(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_TRUE;
    m_FW.Log("CRotatorImpl::get_CanReverse(%i)\n", RawValue(VARIANT_TRUE));
    return S_OK;
}

HRESULT CRotatorImpl::get_Connected(VariantBool* value) { return GetConnection("get_Connected", value); }

HRESULT CRotatorImpl::put_Connected(VariantBool value) {
    return PutConnection("put_Connected", value, [](std::int8_t mode) { return mode == -1; });
}

HRESULT CRotatorImpl::get_Description(Bstr* value) { return ReturnText(value, "Orn Rotator driver"); }
HRESULT CRotatorImpl::get_DriverInfo(Bstr* value) { return ReturnText(value, "Rotator driver"); }
HRESULT CRotatorImpl::get_DriverVersion(Bstr* value) { return ReturnText(value, "3.4"); }
HRESULT CRotatorImpl::get_Name(Bstr* value) { return ReturnText(value, "Orn Rotator"); }

HRESULT CRotatorImpl::get_InterfaceVersion(std::int16_t* value) {
    if (!value) return E_POINTER;
    *value = 1;
    m_FW.Log("CRotatorImpl::get_InterfaceVersion(1)\n");
    return S_OK;
}

HRESULT CRotatorImpl::get_IsMoving(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(m_FW.IsBusy());
    m_FW.Log("CRotatorImpl::get_IsMoving(%i)\n", RawValue(*value));
    return S_OK;
}

float CRotatorImpl::CurrentAngle() const { return RotatorAngle(m_FW.Focus2Pos, m_FW.MaxSteps, m_FW.RotatorReverse); }

HRESULT CRotatorImpl::get_Position(float* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_Position");
    if (!PositionKnown(m_FW.Focus2Pos)) {
        // Not carried by the status, or lost by a failed move: there is no angle to report.
        m_FW.Log("CRotatorImpl::get_Position() unknown\n");
        return E_FAIL;
    }
    *value = CurrentAngle();
    m_FW.Log("CRotatorImpl::get_Position(%f)\n", *value);
    return S_OK;
}

HRESULT CRotatorImpl::get_TargetPosition(float* value) {
    // Moves are not remembered: the target reads as the current angle.
    return get_Position(value);
}

HRESULT CRotatorImpl::get_Reverse(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(m_FW.RotatorReverse);
    m_FW.Log("CRotatorImpl::get_Reverse(%i)\n", RawValue(*value));
    return S_OK;
}

HRESULT CRotatorImpl::put_Reverse(VariantBool value) {
    m_FW.Log("CRotatorImpl::put_Reverse(%i)\n", RawValue(value));
    m_FW.RotatorReverse = value == VARIANT_TRUE;  // exactly -1; other non-zero values clear it
    return S_OK;
}

HRESULT CRotatorImpl::get_StepSize(float* value) {
    if (!value) return E_POINTER;
    *value = RotatorStepSize(m_FW.MaxSteps);
    m_FW.Log("CRotatorImpl::get_StepSize(%f)\n", *value);
    return S_OK;
}

HRESULT CRotatorImpl::get_SupportedActions(SafeArray<Bstr>* value) {
    if (!value) return E_POINTER;
    m_FW.Log("CRotatorImpl::get_SupportedActions()\n");
    *value = SafeArray<Bstr>();
    return S_OK;
}

HRESULT CRotatorImpl::Halt() {
    m_FW.Log("CRotatorImpl::Halt()\n");
    return E_FAIL;
}

namespace {

// The HRESULT of a target that could not be computed.
HRESULT TargetFailure(RotatorTargetError error) {
    return error == RotatorTargetError::NotANumber ? E_INVALIDARG : E_FAIL;
}

} // namespace

HRESULT CRotatorImpl::Move(float position) {
    m_FW.Log("CRotatorImpl::Move(%f)\n", position);
    // An angle or a turn that gives no target fails before anything is asked of the device.
    if (const auto e = RotatorRelativeTarget(position, 0, m_FW.MaxSteps, m_FW.RotatorReverse).error;
        e != RotatorTargetError::None)
        return TargetFailure(e);
    std::int32_t from = 0;
    if (!PositionForRelativeMove(m_FW, 1, from)) return E_FAIL;
    const RotatorTarget t = RotatorRelativeTarget(position, from, m_FW.MaxSteps, m_FW.RotatorReverse);
    m_FW.Log("m_FW.GoToPosition(%i)\n", t.steps);
    return ResultOf(m_FW.GoToPosition(t.steps, 1));
}

HRESULT CRotatorImpl::MoveAbsolute(float position) {
    m_FW.Log("CRotatorImpl::Move(%f)\n", position);
    const RotatorTarget t = RotatorAbsoluteTarget(position, m_FW.MaxSteps, m_FW.RotatorReverse);
    if (t.error != RotatorTargetError::None) return TargetFailure(t.error);
    return ResultOf(m_FW.GoToPosition(t.steps, 1));
}

HRESULT CRotatorImpl::SetupDialog() { return ShowSetupDialog(); }

} // namespace velq3
