// What both focuser devices share: libindi's focuser properties for a motor with absolute and
// relative moves (ABS_FOCUS_POSITION, REL_FOCUS_POSITION with FOCUS_MOTION), FOCUS_MAX (the
// focusers' maximum position setting), FOCUS_SYNC and FOCUS_ABORT_MOTION. Positions are shown
// as clients of every face see them (the device position plus the focus shift) plus this
// device's sync offset, which its config file keeps as FOCUS_SYNC_OFFSET.
#pragma once

#include <indifocuserinterface.h>

#include "indi/Velq3Device.h"

namespace velq3::indi {

class FocuserBase : public Velq3Device, public INDI::FocuserInterface {
public:
    // `motor`: 0 the built-in focuser, 1 the second motor as a focuser.
    FocuserBase(Velq3Driver& driver, DeviceKind kind, std::string name, int motor);

    bool initProperties() override;
    bool updateProperties() override;

protected:
    bool HandleNumber(const char* name, double values[], char* names[], int n) override;
    bool HandleSwitch(const char* name, ISState* states, char* names[], int n) override;
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;
    std::vector<MoveKind> OwnMoves() const override;
    bool saveConfigItems(FILE* fp) override;
    void LoadOwnConfig() override;

private:
    void MoveTo(double target, const char* property);
    void MoveRelative(double steps);
    void Sync(double position);
    void SetMaximum(double maximum);
    void Abort();
    void SetLimits(const Snapshot& snapshot, bool announce);
    double Offset() const { return m_OffsetN[0].value; }

    const int m_Motor;
    bool m_Moving = false;
    INumberVectorProperty m_OffsetNP{};
    INumber m_OffsetN[1]{};
};

} // namespace velq3::indi
