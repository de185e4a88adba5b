// The Rotator automation object: the second motor in Rotator Mode, angles in degrees
// converted with the steps per turn.
#pragma once

#include "automation/VelqTypeLib.h"
#include "drivers/DriverClasses.h"
#include "drivers/DriverObject.h"

namespace velq3 {

class CRotatorImpl : public DriverObject<IRotator> {
public:
    explicit CRotatorImpl(DriverContext& ctx) : DriverObject(ctx, "CRotatorImpl", kProgIdRotator) {}

    HRESULT get_CanReverse(VariantBool* value) override;
    HRESULT get_Connected(VariantBool* value) override;
    HRESULT put_Connected(VariantBool value) override;
    HRESULT get_Description(Bstr* value) override;
    HRESULT get_DriverInfo(Bstr* value) override;
    HRESULT get_DriverVersion(Bstr* value) override;
    HRESULT get_InterfaceVersion(std::int16_t* value) override;
    HRESULT get_IsMoving(VariantBool* value) override;
    HRESULT get_Name(Bstr* value) override;
    HRESULT get_Position(float* value) override;
    HRESULT get_Reverse(VariantBool* value) override;
    HRESULT put_Reverse(VariantBool value) override;
    HRESULT get_StepSize(float* value) override;
    HRESULT get_SupportedActions(SafeArray<Bstr>* value) override;
    HRESULT get_TargetPosition(float* value) override;
    HRESULT Halt() override;
    HRESULT Move(float position) override;
    HRESULT MoveAbsolute(float position) override;
    HRESULT SetupDialog() override;

private:
    // The motor's position as an angle, mirrored when reversed; not wrapped into 0..360.
    float CurrentAngle() const;
};

} // namespace velq3
