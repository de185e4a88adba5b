// What the two Focuser automation objects share: the unit conversions between device and
// client positions, moves of their motor, and the sensor selection of `Temperature`.
#pragma once

#include "automation/VelqTypeLib.h"
#include "drivers/DriverObject.h"

namespace velq3 {

class CFocuserBase : public DriverObject<IFocuser> {
public:
    HRESULT get_Link(VariantBool* value) override;
    HRESULT put_Link(VariantBool value) override;
    HRESULT get_Absolute(VariantBool* value) override;
    HRESULT get_IsMoving(VariantBool* value) override;
    HRESULT get_MaxIncrement(std::int32_t* value) override;
    HRESULT get_MaxStep(std::int32_t* value) override;
    HRESULT get_Position(std::int32_t* value) override;
    HRESULT get_StepSize(double* value) override;
    HRESULT Halt() override;
    HRESULT Move(std::int32_t position) override;
    HRESULT SetupDialog() override;

    static constexpr std::int32_t kMaxIncrement = kFocuserMaxIncrement;

protected:
    CFocuserBase(DriverContext& ctx, const char* className, const char* progId, int motor, ModeCondition modeOk);
    ~CFocuserBase() = default;

    // The sensor reading `Temperature` reports: the preferred sensor alone, or without one
    // the first of the fitted sensors that has a reading. True when that gave a value or
    // when the device has no sensors (then 0.0).
    bool SelectTemperature(double& value) const;

private:
    std::int32_t MotorPosition() const { return m_Motor == 0 ? m_FW.FocusPos : m_FW.Focus2Pos; }

    int m_Motor;
    ModeCondition m_ModeOk;
};

} // namespace velq3
