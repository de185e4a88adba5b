// Switch members over the snapshot; the heater set point is written to the controller's memory
// through the service, which writes only a changed value.
#include "alpaca/SwitchDevice.h"

#include "device/HeaterCoding.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velq3::alpaca {

namespace {

constexpr int kSwitchBits = 4;
constexpr double kTemperatureMin = -50.0;
constexpr double kTemperatureMax = 100.0;

bool IsCoolerMode(int powerMode) { return powerMode == kCooler || powerMode == kCoolerDelta; }

} // namespace

HeaterSetPoint DecodeHeaterSetPoint(std::uint16_t control, std::int16_t setValue) {
    // The mode from the shared coding; the value in double precision for the wire.
    const int mode = DecodeHeater({control, setValue}).powerMode;
    const double s = setValue;
    if (mode == kConstPower) return {kPowerModeNames[mode], true, std::clamp(s / kMaxPowerLevel * 100.0, 0.0, 100.0)};
    return {kPowerModeNames[mode], false, IsCoolerMode(mode) ? -s / 100.0 : s / 100.0};
}

std::optional<std::int16_t> EncodeHeaterSetPoint(std::uint16_t control, std::int16_t current, double value) {
    const int mode = DecodeHeater({control, current}).powerMode;
    if (mode == kConstPower) {
        if (value < 0.0 || value > 100.0) return std::nullopt;
        return static_cast<std::int16_t>(std::min<double>(kMaxPowerLevel, std::trunc(value / 100.0 * kMaxPowerLevel + 0.5)));
    }
    if (value < kTemperatureMin || value > kTemperatureMax) return std::nullopt;
    const double hundredths = std::floor(value * 100.0 + 0.5);
    return static_cast<std::int16_t>(IsCoolerMode(mode) ? -hundredths : hundredths);
}

std::vector<SwitchChannel> SwitchChannels(const Snapshot& snap) {
    std::vector<SwitchChannel> channels;
    const bool coverMode = snap.mode == -2;
    static const char* const kEndStops[kSwitchBits] = {"Open end-stop", "Closed end-stop", "End-stop 3", "End-stop 4"};
    for (int bit = 0; bit < kSwitchBits; ++bit) {
        SwitchChannel c;
        c.name = coverMode ? kEndStops[bit] : "Switch " + std::to_string(bit + 1);
        c.description = (coverMode ? "Cover end-stop input, switch bit " : "Switch bit ") + std::to_string(bit) +
                        " of the controller (read only)";
        c.value = (snap.status.Sw >> bit) & 1;
        channels.push_back(std::move(c));
    }
    channels.push_back({"Output power", "Heater / power output in percent (read only)", false, 0.0, 100.0, 0.1,
                        static_cast<double>(snap.status.Out)});
    channels.push_back({"Supply voltage", "Supply voltage in volts (read only)", false, 0.0, 50.0, 0.01,
                        static_cast<double>(snap.status.Vin)});
    const int sensors = std::min(snap.sensorCount, kSensorCount);
    for (int i = 0; i < sensors; ++i) {
        SwitchChannel c;
        c.name = snap.thermometerNames[i].empty() ? "Thermometer " + std::to_string(i + 1) : snap.thermometerNames[i];
        c.description = "Temperature of sensor T" + std::to_string(i) + " in degrees C (read only)";
        c.min = -100.0;
        c.max = 150.0;
        c.step = 0.01;
        if (snap.status.Temp[i] != kNoTemperature && std::isfinite(snap.status.Temp[i])) c.value = snap.status.Temp[i];
        channels.push_back(std::move(c));
    }
    if (snap.memorySize >= static_cast<int>(offsetof(EEFilterWheelData, HeaterSetPoint) + 2)) {
        const HeaterSetPoint heater = DecodeHeaterSetPoint(snap.image.HeaterControl, snap.image.HeaterSetPoint);
        SwitchChannel c;
        c.name = "Heater set point";
        c.description = "Set point of the power output in mode " + heater.mode +
                        (heater.power ? ", in percent" : ", in degrees C") +
                        "; stored in the controller's memory";
        c.canWrite = true;
        c.min = heater.power ? 0.0 : kTemperatureMin;
        c.max = heater.power ? 100.0 : kTemperatureMax;
        c.step = heater.power ? 1.0 : 0.01;
        c.value = heater.value;
        channels.push_back(std::move(c));
    }
    return channels;
}

SwitchDevice::SwitchDevice(DeviceService& service, std::uint32_t number)
    : ServiceDevice(DeviceIdentity{"switch", "Switch", number, 3, "velq3 switches and sensors",
                                   "Switches, sensors and heater set point of the velq3 controller"},
                    service, DeviceKind::Focuser) {
    AddGet("maxswitch", 0, [this](const Params&) { return Outcome::Of(SwitchChannels(*Snap()).size()); });
    auto reader = [this](const char* member, Json placeholder, std::function<Outcome(const SwitchChannel&)> read) {
        AddGet(member, std::move(placeholder), [this, read](const Params& p) {
            std::vector<SwitchChannel> channels;
            std::size_t id = 0;
            if (auto bad = Channel(p, channels, id)) return *bad;
            return read(channels[id]);
        });
    };
    reader("canasync", false, [](const SwitchChannel&) { return Outcome::Of(false); });
    reader("canwrite", false, [](const SwitchChannel& c) { return Outcome::Of(c.canWrite); });
    reader("getswitchname", "", [](const SwitchChannel& c) { return Outcome::Of(c.name); });
    reader("getswitchdescription", "", [](const SwitchChannel& c) { return Outcome::Of(c.description); });
    reader("minswitchvalue", 0.0, [](const SwitchChannel& c) { return Outcome::Of(c.min); });
    reader("maxswitchvalue", 0.0, [](const SwitchChannel& c) { return Outcome::Of(c.max); });
    reader("switchstep", 0.0, [](const SwitchChannel& c) { return Outcome::Of(c.step); });
    reader("statechangecomplete", false, [](const SwitchChannel&) { return Outcome::Of(true); });
    reader("getswitchvalue", 0.0, [](const SwitchChannel& c) {
        if (!c.value) return Outcome::Error(ErrorCode::NoValue, c.name + " has no reading");
        return DoubleValue(*c.value, c.name);
    });
    reader("getswitch", false, [](const SwitchChannel& c) {
        if (!c.value) return Outcome::Error(ErrorCode::NoValue, c.name + " has no reading");
        return Outcome::Of(*c.value > c.min);
    });
    AddPut("setswitch", [this](const Params& p) { return SetValue(p, true); });
    AddPut("setswitchvalue", [this](const Params& p) { return SetValue(p, false); });
    AddPut("setswitchname", [this](const Params& p) {
        std::vector<SwitchChannel> channels;
        std::size_t id = 0;
        if (auto bad = Channel(p, channels, id)) return *bad;
        std::string name;
        if (auto bad = RequireText(p, "Name", name)) return *bad;
        return Outcome::Error(ErrorCode::NotImplemented, "Switch names cannot be changed here");
    });
    // No channel is asynchronous: every write completes before its reply.
    auto notAsync = [this](const char* parameter, bool isBool) {
        return [this, parameter, isBool](const Params& p) {
            std::vector<SwitchChannel> channels;
            std::size_t id = 0;
            if (auto bad = Channel(p, channels, id)) return *bad;
            if (parameter) {
                bool state = false;
                double value = 0.0;
                if (auto bad = isBool ? RequireBool(p, parameter, state) : RequireDouble(p, parameter, value)) return *bad;
            }
            return Outcome::Error(ErrorCode::NotImplemented, channels[id].name + " is not asynchronous");
        };
    };
    AddPut("setasync", notAsync("State", true));
    AddPut("setasyncvalue", notAsync("Value", false));
    AddPut("cancelasync", notAsync(nullptr, false));
}

std::optional<Outcome> SwitchDevice::Channel(const Params& params, std::vector<SwitchChannel>& channels,
                                             std::size_t& id) {
    std::int32_t value = 0;
    if (auto bad = RequireInt(params, "Id", value)) return bad;
    channels = SwitchChannels(*Snap());
    if (value < 0 || static_cast<std::size_t>(value) >= channels.size())
        return Outcome::Error(ErrorCode::InvalidValue,
                              "Id must be in 0.." + std::to_string(static_cast<int>(channels.size()) - 1));
    id = static_cast<std::size_t>(value);
    return std::nullopt;
}

Outcome SwitchDevice::SetValue(const Params& params, bool fromState) {
    std::vector<SwitchChannel> channels;
    std::size_t id = 0;
    if (auto bad = Channel(params, channels, id)) return *bad;
    const SwitchChannel& c = channels[id];
    double value = 0.0;
    if (fromState) {
        bool state = false;
        if (auto bad = RequireBool(params, "State", state)) return *bad;
        value = state ? c.max : c.min;
    } else if (auto bad = RequireDouble(params, "Value", value)) {
        return *bad;
    }
    if (!c.canWrite) return Outcome::Error(ErrorCode::NotImplemented, c.name + " is read only");
    if (value < c.min || value > c.max)
        return Outcome::Error(ErrorCode::InvalidValue, c.name + " must be within its minimum and maximum");
    const auto snap = Snap();
    const auto stored = EncodeHeaterSetPoint(snap->image.HeaterControl, snap->image.HeaterSetPoint, value);
    if (!stored) return Outcome::Error(ErrorCode::InvalidValue, c.name + " is out of range");
    return FromCommand(m_Service.SetHeaterSetPoint(*stored));
}

Json SwitchDevice::DeviceStateItems() {
    Json items = Json::array();
    const auto channels = SwitchChannels(*Snap());
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const std::string n = std::to_string(i);
        if (channels[i].value && std::isfinite(*channels[i].value)) {
            items.push_back({{"Name", "GetSwitch" + n}, {"Value", *channels[i].value > channels[i].min}});
            items.push_back({{"Name", "GetSwitchValue" + n}, {"Value", *channels[i].value}});
        }
        items.push_back({{"Name", "StateChangeComplete" + n}, {"Value", true}});
    }
    return items;
}

} // namespace velq3::alpaca
