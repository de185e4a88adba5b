// covercalibrator/0 (ICoverCalibratorV2): the same cover as the dome's shutter; no calibrator.
#pragma once

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

// CoverState values of the interface.
enum class CoverState : int { NotPresent = 0, Closed = 1, Moving = 2, Open = 3, Unknown = 4, Error = 5 };

// The interface's CoverState of a shared cover status.
CoverState ToCoverState(CoverStatus status);
// The cover's CoverState in a snapshot: Unknown while its position is unknown.
CoverState ToCoverState(const Snapshot& snap);

class CoverCalibratorDevice : public ServiceDevice {
public:
    CoverCalibratorDevice(DeviceService& service, std::uint32_t number);

protected:
    Json DeviceStateItems() override;
};

} // namespace velq3::alpaca
