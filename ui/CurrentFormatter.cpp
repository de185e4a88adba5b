// Motor current texts: the coded byte scaled to amperes or to a percentage of full scale.
#include "ui/CurrentFormatter.h"

#include <charconv>

namespace velq3::ui {

namespace {
constexpr int kCurrentMemorySize = 200;  // devices with more memory hold the running current
constexpr double kFullScaleAmps = 1.5;
constexpr double kMilliampsBelow = 0.3;  // amps up to this are shown in milliamperes

// Fixed-point text with a point whatever the locale.
std::string Fixed(double value, int decimals) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}
}  // namespace

std::string CurrentFormatter::FormatCurrent(int value) const {
    const double f = value / 255.0;
    if (m_FW.m_MemorySize > kCurrentMemorySize) {
        const double amps = kFullScaleAmps * f;
        if (amps > kMilliampsBelow) return Fixed(amps, 2) + " A";
        return std::to_string(static_cast<int>(1000 * kFullScaleAmps * f)) + " mA";
    }
    return Fixed(100 * f, 1) + " %";
}

}  // namespace velq3::ui
