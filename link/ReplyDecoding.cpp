// Decoding rules for the controller's replies.
#include "link/ReplyDecoding.h"

#include "link/WireFormat.h"

namespace velq3 {

int DecodeMemorySize(std::int16_t value) {
    return (value < 0 || value > kMaxMemorySize) ? kMaxMemorySize : value;
}

std::optional<int> DecodePositionChar(std::uint8_t c) {
    if (c >= '/' && c <= ':') return c - '0';
    return std::nullopt;
}

int DecodeDirection(std::uint8_t c) {
    if (c == '+') return 1;
    if (c == '-') return -1;
    return 0;
}

int DecodeCompensationSensor(std::uint8_t c) {
    const int sensor = c - '0';
    return sensor > kSensorCount - 1 ? kSensorCount - 1 : sensor;
}

float DecodeTemperature(std::int16_t hundredths) {
    if (hundredths == wire::kNoSensor) return kNoTemperature;
    return static_cast<float>(hundredths) / 100.0f;
}

float DecodeOutputPercent(std::uint8_t b) { return static_cast<float>(b) * 100.0f / 256.0f; }

bool PlausibleStatusBlock(const std::uint8_t* block, std::size_t len) {
    if (len < 13) return false;
    const auto small = [](std::uint8_t c) { return c >= '/' && c <= ':'; };
    return small(block[0]) || block[1] == '+' || block[1] == '-' || small(block[12]);
}

void DecodeStatusBlock(const std::uint8_t* b, std::size_t len, FWCurrentParameters& s) {
    int filter = b[0] - '0';
    s.FilterPos = (filter < -1 || filter > 10) ? -1 : filter;
    s.FocusDir = DecodeDirection(b[1]);
    s.FocusPos = GetI16(b + 2);
    for (int k = 0; k < kSensorCount; ++k) s.Temp[k] = DecodeTemperature(GetI16(b + 4 + 2 * k));
    s.AutoComp = DecodeCompensationSensor(b[12]);
    s.Vin = static_cast<float>(GetI16(b + 13)) / 100.0f;
    s.Out = DecodeOutputPercent(b[15]);
    if (len >= static_cast<std::size_t>(wire::kStatusBlockWithFocuser2)) {
        s.Focus2Dir = DecodeDirection(b[16]);
        s.Focus2Pos = GetI16(b + 17);
    }
    if (len >= static_cast<std::size_t>(wire::kStatusBlockWithSwitches)) s.Sw = b[19];
}

} // namespace velq3
