// "VELQ3 Rotator": the second motor as a field rotator, in the controller's rotator mode.
// ABS_ROTATOR_ANGLE, SYNC_ROTATOR_ANGLE and ROTATOR_REVERSE. A sync does not touch the
// controller: it keeps the difference between the angle the user named and the motor's angle
// as ROTATOR_SYNC_OFFSET, which the device's config file keeps.
#pragma once

#include <indirotatorinterface.h>

#include "indi/Velq3Device.h"

namespace velq3::indi {

class RotatorDevice : public Velq3Device, public INDI::RotatorInterface {
public:
    explicit RotatorDevice(Velq3Driver& driver);

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;

protected:
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;
    bool saveConfigItems(FILE* fp) override;
    void LoadOwnConfig() override;
    IPState MoveRotator(double angle) override;

private:
    void MoveTo(double angle);
    void Sync(double angle);
    void SetReverse(bool reverse);
    // The angle shown to clients for a motor angle: with the sync offset, in 0..360.
    double Shown(double motorAngle) const;

    INumberVectorProperty m_OffsetNP{};
    INumber m_OffsetN[1]{};
    bool m_Moving = false;
    bool m_Failed = false;
};

// `angle` folded into 0 <= a < 360.
double WrapDegrees(double angle);

} // namespace velq3::indi
