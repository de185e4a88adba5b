// Decoding and encoding of the heater control word and set value.
#include "device/HeaterCoding.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velq3 {

const char* const kPowerModeNames[kPowerModeCount] = {"Const Power", "FlatBox", "Heater",
                                                      "Heater Delta", "Cooler", "Cooler Delta"};

namespace {

bool IsSensor(int nibble) { return nibble <= kLastSensorNibble; }

// The transition zone's byte: hundredths, cut toward zero, limited to 0..255. The small
// allowance keeps a typed 0.29 (stored as 0.2899999) at 29 rather than 28.
int ZoneByte(float zone) {
    const double hundredths = std::floor(static_cast<double>(zone) * 100.0 + 1e-4);
    if (!(hundredths > 0)) return 0;
    return static_cast<int>(std::min<double>(hundredths, kMaxZoneByte));
}

}  // namespace

std::int64_t RoundHalfUp(double x) {
    const double r = std::floor(x + 0.5);
    if (std::isnan(r)) return 0;
    constexpr double kLimit = 9.0e18;
    if (r >= kLimit) return static_cast<std::int64_t>(kLimit);
    if (r <= -kLimit) return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(r);
}

std::optional<std::int16_t> ScaledToImage16(double x, double scale) {
    const std::int64_t v = RoundHalfUp(x * scale);
    if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
    return static_cast<std::int16_t>(v);
}

std::int16_t Saturate16(std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                               std::numeric_limits<std::int16_t>::max()));
}

HeaterSetting DecodeHeater(HeaterWords words) {
    const int a = words.control & 0xF;
    const int b = (words.control >> 4) & 0xF;
    const int s = words.setValue;
    HeaterSetting h;
    h.transitionZone = static_cast<float>((words.control >> 8) / 100.0);
    h.setValue = static_cast<float>(s / 100.0);
    if (!IsSensor(a) && !IsSensor(b)) {
        h.powerMode = kFlatBox;
    } else if (IsSensor(a) && !IsSensor(b)) {
        h.powerMode = kHeater;
        h.sensorA = a;
    } else if (!IsSensor(a)) {
        h.powerMode = kCooler;
        h.sensorA = b;
        h.setValue = static_cast<float>(-s / 100.0);
    } else if (a == b) {
        h.powerMode = kConstPower;
        h.setValue = static_cast<float>(std::clamp(s / 255.0 * 100.0, 0.0, 100.0));
    } else if (s >= 0) {
        h.powerMode = kHeaterDelta;
        h.sensorA = a;
        h.sensorB = b;
    } else {
        h.powerMode = kCoolerDelta;
        h.sensorA = b;
        h.sensorB = a;
        h.setValue = static_cast<float>(-s / 100.0);
    }
    h.setValue += 0.0f;  // a negated zero shows as "0", not "-0"
    return h;
}

std::optional<HeaterWords> EncodeHeater(const HeaterSetting& h) {
    int nibbleA = kNoSensorNibble, nibbleB = kNoSensorNibble;
    int zone = ZoneByte(h.transitionZone);
    std::int64_t set = RoundHalfUp(static_cast<double>(h.setValue) * 100.0);
    switch (h.powerMode) {
    case kConstPower: {
        nibbleA = nibbleB = 0;
        zone = kMaxZoneByte;
        const double level = std::clamp(std::trunc(h.setValue / 100.0 * kMaxPowerLevel + 0.5), 0.0, double(kMaxPowerLevel));
        set = std::isnan(level) ? 0 : static_cast<std::int64_t>(level);
        break;
    }
    case kFlatBox:
        break;
    case kHeater:
        nibbleA = h.sensorA;
        break;
    case kHeaterDelta:
        nibbleA = h.sensorA;
        nibbleB = h.sensorB;
        break;
    case kCooler:
        nibbleB = h.sensorA;
        set = -set;
        break;
    case kCoolerDelta:
        nibbleA = h.sensorB;
        nibbleB = h.sensorA;
        set = -set;
        break;
    default:
        return std::nullopt;
    }
    if (set < -kMaxSetHundredths || set > kMaxSetHundredths) return std::nullopt;
    HeaterWords w;
    w.control = static_cast<std::uint16_t>((zone << 8) | ((nibbleB & 0xF) << 4) | (nibbleA & 0xF));
    w.setValue = static_cast<std::int16_t>(set);
    return w;
}

}  // namespace velq3
