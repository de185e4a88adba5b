// filterwheel/0 (IFilterWheelV3): the controller's wheel.
#pragma once

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

class FilterWheelDevice : public ServiceDevice {
public:
    FilterWheelDevice(DeviceService& service, std::uint32_t number);

protected:
    Json DeviceStateItems() override;

private:
    Outcome GetFocusOffsets();
    Outcome GetNames();
    Outcome GetPosition();
    Outcome PutPosition(const Params& params);
};

} // namespace velq3::alpaca
