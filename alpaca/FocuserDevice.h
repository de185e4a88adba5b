// focuser/0 (the built-in focuser) and focuser/1 (the second motor in second-focuser mode),
// both IFocuserV4, with the automation objects' values: focus shift, preferred thermometer.
#pragma once

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

class FocuserDevice : public ServiceDevice {
public:
    // `motor` 0: the built-in focuser; 1: the second focuser.
    FocuserDevice(DeviceService& service, std::uint32_t number, int motor);

protected:
    Json DeviceStateItems() override;

private:
    bool IsMoving(const Snapshot& snap) const { return snap.Moving(FocuserMoveKind(m_Motor, snap.mode)); }
    Outcome GetTemperature();
    Outcome PutTempComp(const Params& params);
    Outcome Move(const Params& params);

    int m_Motor;
};

} // namespace velq3::alpaca
