// Dome members: the cover as the shutter. X is the second motor's position, N = `MaxSteps`
// its travel from closed (0) to open (N).
#include "drivers/CDomeImpl.h"

#include "automation/ErrorInfo.h"
#include "device/DeviceMoves.h"
#include "device/DeviceRules.h"
#include "drivers/DriverClasses.h"

namespace velq3 {

HRESULT CDomeImpl::FixedFlag(const char* member, bool flag, VariantBool* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(flag);
    m_FW.Log("CDomeImpl::%s(%i)\n", member, RawValue(*value));
    return S_OK;
}

HRESULT CDomeImpl::get_Altitude(double* value) {
    if (!value) return E_POINTER;
    *value = 0.0;
    m_FW.Log("CDomeImpl::get_Altitude(0)\n");
    return S_OK;
}

HRESULT CDomeImpl::get_Azimuth(double* value) {
    if (!value) return E_POINTER;
    *value = 0.0;
    m_FW.Log("CDomeImpl::get_Azimuth(0)\n");
    return S_OK;
}

HRESULT CDomeImpl::get_AtHome(VariantBool* value) { return FixedFlag("get_AtHome", false, value); }
HRESULT CDomeImpl::get_AtPark(VariantBool* value) { return FixedFlag("get_AtPark", false, value); }
HRESULT CDomeImpl::get_CanFindHome(VariantBool* value) { return FixedFlag("get_CanFindHome", false, value); }
HRESULT CDomeImpl::get_CanPark(VariantBool* value) { return FixedFlag("get_CanPark", false, value); }
HRESULT CDomeImpl::get_CanSetAltitude(VariantBool* value) { return FixedFlag("get_CanSetAltitude", false, value); }
HRESULT CDomeImpl::get_CanSetAzimuth(VariantBool* value) { return FixedFlag("get_CanSetAzimuth", false, value); }
HRESULT CDomeImpl::get_CanSetPark(VariantBool* value) { return FixedFlag("get_CanSetPark", false, value); }
HRESULT CDomeImpl::get_CanSetShutter(VariantBool* value) { return FixedFlag("get_CanSetShutter", true, value); }
HRESULT CDomeImpl::get_CanSlave(VariantBool* value) { return FixedFlag("get_CanSlave", false, value); }
HRESULT CDomeImpl::get_CanSyncAzimuth(VariantBool* value) { return FixedFlag("get_CanSyncAzimuth", false, value); }
HRESULT CDomeImpl::get_Slaved(VariantBool* value) { return FixedFlag("get_Slaved", false, value); }
// The cover's moves do not count as slewing.
HRESULT CDomeImpl::get_Slewing(VariantBool* value) { return FixedFlag("get_Slewing", false, value); }

HRESULT CDomeImpl::get_Connected(VariantBool* value) { return GetConnection("get_Connected", value); }

HRESULT CDomeImpl::put_Connected(VariantBool value) {
    return PutConnection("put_Connected", value, [](std::int8_t mode) { return ModeFits(DeviceKind::Cover, mode); });
}

HRESULT CDomeImpl::get_Description(Bstr* value) { return ReturnText(value, "Orn Dome driver"); }
HRESULT CDomeImpl::get_DriverInfo(Bstr* value) { return ReturnText(value, "Dome driver"); }
HRESULT CDomeImpl::get_DriverVersion(Bstr* value) { return ReturnText(value, "3.5"); }
HRESULT CDomeImpl::get_Name(Bstr* value) { return ReturnText(value, "Orn Dome"); }

HRESULT CDomeImpl::get_InterfaceVersion(std::int16_t* value) {
    if (!value) return E_POINTER;
    *value = 1;
    m_FW.Log("CDomeImpl::get_InterfaceVersion(1)\n");
    return S_OK;
}

HRESULT CDomeImpl::get_ShutterStatus(std::int32_t* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_ShutterStatus");
    const auto status = static_cast<std::int32_t>(
        CoverState(m_FW.IsBusy(), m_FW.Focus2Pos, m_FW.MaxSteps, m_FW.HomeMark != 0, m_FW.Sw));
    *value = status;
    m_FW.Log("CDomeImpl::get_ShutterStatus(%i)\n", status);
    return S_OK;
}

HRESULT CDomeImpl::get_SupportedActions(SafeArray<Bstr>* value) {
    if (!value) return E_POINTER;
    m_FW.Log("CDomeImpl::get_SupportedActions()\n");
    *value = SafeArray<Bstr>();
    return S_OK;
}

HRESULT CDomeImpl::AbortSlew() { return E_FAIL; }
HRESULT CDomeImpl::FindHome() { return E_FAIL; }
HRESULT CDomeImpl::Park() { return E_FAIL; }
HRESULT CDomeImpl::SetPark() { return E_FAIL; }
HRESULT CDomeImpl::SlewToAltitude(double) { return E_FAIL; }
HRESULT CDomeImpl::SlewToAzimuth(double) { return E_FAIL; }
HRESULT CDomeImpl::SyncToAzimuth(double) { return E_FAIL; }

HRESULT CDomeImpl::OpenShutter() {
    m_FW.Log("CDomeImpl::OpenShutter()\n");
    return ResultOf(MoveCoverTravel(m_FW, true));
}

HRESULT CDomeImpl::CloseShutter() {
    m_FW.Log("CDomeImpl::CloseShutter()\n");
    return ResultOf(MoveCoverTravel(m_FW, false));
}

HRESULT CDomeImpl::SetupDialog() { return ShowSetupDialog(); }

} // namespace velq3
