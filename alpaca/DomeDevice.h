// dome/0 (IDomeV3): the cover (second motor in cover mode) as the dome's shutter; the dome has
// no other capability.
#pragma once

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

class DomeDevice : public ServiceDevice {
public:
    DomeDevice(DeviceService& service, std::uint32_t number);

protected:
    Json DeviceStateItems() override;
};

} // namespace velq3::alpaca
