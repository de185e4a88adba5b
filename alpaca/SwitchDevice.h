// switch/0 (ISwitchV3): read-only channels for the four switch bits, the output power, the
// supply voltage and each fitted thermometer, and one writable channel for the heater set point
// of the current power mode, kept in the controller's memory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "alpaca/ServiceDevice.h"

namespace velq3::alpaca {

struct SwitchChannel {
    std::string name;
    std::string description;
    bool canWrite = false;
    double min = 0.0;
    double max = 1.0;
    double step = 1.0;
    std::optional<double> value;  // none: no reading
};

// The heater set point as a client sees it, decoded from the heater control word and the
// stored set value: a power in percent ("Const Power") or a temperature in degrees C, negated
// for the cooler modes.
struct HeaterSetPoint {
    std::string mode;   // "Const Power", "FlatBox", "Heater", "Heater Delta", "Cooler", "Cooler Delta"
    bool power = false; // percent rather than degrees
    double value = 0.0;
};
HeaterSetPoint DecodeHeaterSetPoint(std::uint16_t control, std::int16_t setValue);
// The stored set value for `value` in the mode of `control`; none when it does not fit.
std::optional<std::int16_t> EncodeHeaterSetPoint(std::uint16_t control, std::int16_t current, double value);

// The channels of a snapshot, in Id order.
std::vector<SwitchChannel> SwitchChannels(const Snapshot& snap);

class SwitchDevice : public ServiceDevice {
public:
    SwitchDevice(DeviceService& service, std::uint32_t number);

protected:
    Json DeviceStateItems() override;

private:
    // The channels and the one `Id` names; a bad request or 0x401 when it names none.
    std::optional<Outcome> Channel(const Params& params, std::vector<SwitchChannel>& channels, std::size_t& id);
    Outcome SetValue(const Params& params, bool fromState);
};

} // namespace velq3::alpaca
