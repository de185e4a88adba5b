// What both focuser devices share: the standard focuser properties of a motor with absolute
// and relative moves (ABS_FOCUS_POSITION, REL_FOCUS_POSITION with FOCUS_MOTION, FOCUS_MAX),
// positions as clients see them (the device position plus the focus shift) and their limits
// 0..`AscomMaxFocusPos`.
#pragma once

#include <indifocuserinterface.h>

#include "indi/Velq3Device.h"

namespace velq3::indi {

class FocuserBase : public Velq3Device, public INDI::FocuserInterface {
public:
    // `motor`: 0 the built-in focuser, 1 the second motor as a focuser.
    FocuserBase(Velq3Driver& driver, DeviceKind kind, const char* name, int motor);

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;

protected:
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

private:
    void MoveTo(double target, bool relative);
    void SetLimits(const Snapshot& snapshot, bool announce);

    const int m_Motor;
    bool m_Moving = false;
    bool m_Failed = false;  // the last move failed: Alert until the next one
};

} // namespace velq3::indi
