// The heater words of the memory image (control word at 144, set value at 146) decoded into
// the six power output modes and encoded back, without any window.
#pragma once

#include <cstdint>
#include <optional>

namespace velq3 {

// Power output modes: the items of the mode list, in this order.
enum PowerModeIndex : int {
    kConstPower = 0,
    kFlatBox = 1,
    kHeater = 2,
    kHeaterDelta = 3,
    kCooler = 4,
    kCoolerDelta = 5,
};
inline constexpr int kPowerModeCount = 6;
extern const char* const kPowerModeNames[kPowerModeCount];

inline constexpr int kNoSensorNibble = 15;  // written for "no sensor"; any nibble above 4 reads so
inline constexpr int kLastSensorNibble = 4;
inline constexpr int kMaxZoneByte = 255;    // transition zone, hundredths of a degree
inline constexpr int kMaxPowerLevel = 255;  // "Const Power" set value

// What the dialog shows of the power output.
struct HeaterSetting {
    int powerMode = kFlatBox;
    int sensorA = 0;  // the thermometer followed
    int sensorB = 1;  // the thermometer subtracted in the delta modes
    float setValue = 0;        // degrees, or percent in "Const Power"
    float transitionZone = 0;  // degrees
};

// The two image words.
struct HeaterWords {
    std::uint16_t control = 0;
    std::int16_t setValue = 0;
};

HeaterSetting DecodeHeater(HeaterWords words);

// Nothing when a temperature set value does not fit: its hundredths must lie within
// +-kMaxSetHundredths so that the cooler modes can negate them.
inline constexpr int kMaxSetHundredths = 32767;
std::optional<HeaterWords> EncodeHeater(const HeaterSetting& setting);

// floor(x + 0.5) as a 64-bit integer, saturated at the ends of the range (NaN gives 0).
std::int64_t RoundHalfUp(double x);

// The 16-bit image value for round(x * scale), or nothing when it does not fit.
std::optional<std::int16_t> ScaledToImage16(double x, double scale);

// A value limited to the signed 16-bit range.
std::int16_t Saturate16(std::int64_t v);

}  // namespace velq3
