// The Dome automation object: the cover on the second motor in Cover Mode acts as the
// shutter; every other dome member reports a fixed value or fails.
#pragma once

#include "automation/VelqTypeLib.h"
#include "drivers/DriverClasses.h"
#include "drivers/DriverObject.h"

namespace velq3 {

class CDomeImpl : public DriverObject<IDome> {
public:
    explicit CDomeImpl(DriverContext& ctx) : DriverObject(ctx, "CDomeImpl", kProgIdDome) {}

    // Shutter states of the dome interface.
    enum ShutterState : std::int32_t { kOpen = 0, kClosed = 1, kOpening = 2, kClosing = 3, kError = 4 };

    HRESULT get_Altitude(double* value) override;
    HRESULT get_AtHome(VariantBool* value) override;
    HRESULT get_AtPark(VariantBool* value) override;
    HRESULT get_Azimuth(double* value) override;
    HRESULT get_CanFindHome(VariantBool* value) override;
    HRESULT get_CanPark(VariantBool* value) override;
    HRESULT get_CanSetAltitude(VariantBool* value) override;
    HRESULT get_CanSetAzimuth(VariantBool* value) override;
    HRESULT get_CanSetPark(VariantBool* value) override;
    HRESULT get_CanSetShutter(VariantBool* value) override;
    HRESULT get_CanSlave(VariantBool* value) override;
    HRESULT get_CanSyncAzimuth(VariantBool* value) override;
    HRESULT get_Connected(VariantBool* value) override;
    HRESULT put_Connected(VariantBool value) override;
    HRESULT get_Description(Bstr* value) override;
    HRESULT get_DriverInfo(Bstr* value) override;
    HRESULT get_DriverVersion(Bstr* value) override;
    HRESULT get_InterfaceVersion(std::int16_t* value) override;
    HRESULT get_Name(Bstr* value) override;
    HRESULT get_ShutterStatus(std::int32_t* value) override;
    HRESULT get_Slaved(VariantBool* value) override;
    HRESULT get_Slewing(VariantBool* value) override;
    HRESULT get_SupportedActions(SafeArray<Bstr>* value) override;
    HRESULT AbortSlew() override;
    HRESULT FindHome() override;
    HRESULT CloseShutter() override;
    HRESULT OpenShutter() override;
    HRESULT Park() override;
    HRESULT SetPark() override;
    HRESULT SlewToAltitude(double altitude) override;
    HRESULT SlewToAzimuth(double azimuth) override;
    HRESULT SyncToAzimuth(double azimuth) override;
    HRESULT SetupDialog() override;

private:
    // A fixed boolean property: its value and its log line "CDomeImpl::<member>(%i)\n".
    HRESULT FixedFlag(const char* member, bool flag, VariantBool* value);
};

} // namespace velq3
