// rotator/0 (IRotatorV4): the second motor in rotator mode. Sky angles are the automation
// object's angle plus a sync offset that is kept in the settings, so it survives restarts.
#pragma once

#include <functional>
#include <mutex>
#include <optional>

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

class RotatorDevice : public ServiceDevice {
public:
    // `syncOffset` is the stored offset; `storeOffset` keeps a new one (called on an HTTP thread).
    RotatorDevice(DeviceService& service, std::uint32_t number, double syncOffset,
                  std::function<void(double)> storeOffset);

protected:
    Json DeviceStateItems() override;

private:
    // Sky angle of the current position; not finite without steps per turn.
    double SkyPosition(const Snapshot& snap) const;
    Outcome GetAngle(bool mechanical);
    Outcome GetTargetPosition();
    Outcome Move(const Params& params);
    Outcome MoveAbsolute(const Params& params);
    Outcome MoveMechanical(const Params& params);
    Outcome Sync(const Params& params);
    Outcome SetReverse(bool reverse);
    // Reads the Position parameter as an angle in [0, 360); other values are invalid.
    static std::optional<Outcome> RequireAngle(const Params& params, double& angle);
    Outcome StartMove(const CommandResult& result, double skyTarget);

    std::function<void(double)> m_StoreOffset;
    mutable std::mutex m_Mutex;
    double m_SyncOffset;
    std::optional<double> m_Target;  // sky angle of the last move started here
};

} // namespace velq3::alpaca
