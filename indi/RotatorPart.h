// The rotator part of the controller's device, in rotator mode: ABS_ROTATOR_ANGLE,
// SYNC_ROTATOR_ANGLE, ROTATOR_REVERSE and ROTATOR_ABORT_MOTION from libindi's rotator
// interface. A sync does not touch the controller: it keeps the difference between the angle
// the user named and the motor's angle as ROTATOR_SYNC_OFFSET, which the config file keeps.
// Toggling ROTATOR_REVERSE leaves the angle shown where it was.
#pragma once

#include <indirotatorinterface.h>

#include "indi/DevicePart.h"

namespace velq3::indi {

class RotatorPart : public DevicePart, public INDI::RotatorInterface {
public:
    explicit RotatorPart(Velq3Device& device);

    bool Fits(std::int8_t mode) const override { return ModeFits(DeviceKind::Rotator, mode); }
    void Init() override;
    void Define(const Snapshot& snapshot) override;
    void Delete() override;
    bool HandleNumber(const char* name, double values[], char* names[], int n) override;
    bool HandleSwitch(const char* name, ISState* states, char* names[], int n) override;
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;
    void SaveConfig(FILE* fp) override;

    // libindi's rotator interface: the requests arrive through HandleNumber/HandleSwitch.
    IPState MoveRotator(double angle) override;

private:
    using DevicePart::getDeviceName;

    void MoveTo(double angle);
    void Sync(double angle);
    void SetReverse(bool reverse);
    void Abort();
    void SetOffset(double offset);
    // The angle shown to clients for a motor angle: with the sync offset, in 0..360.
    double Shown(double motorAngle) const;

    INumberVectorProperty m_OffsetNP{};
    INumber m_OffsetN[1]{};
    bool m_Defined = false;
    bool m_Loaded = false;
    bool m_Moving = false;
};

} // namespace velq3::indi
