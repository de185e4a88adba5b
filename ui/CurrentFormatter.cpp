// Motor current texts: the coded byte scaled to amperes or to a percentage of full scale.
#include "ui/CurrentFormatter.h"

#include "ui/DataExchange.h"

namespace velq3::ui {

namespace {
constexpr int kCurrentMemorySize = 200;  // devices with more memory hold the running current
constexpr double kFullScaleAmps = 1.5;
constexpr double kMilliampsBelow = 0.3;  // amps up to this are shown in milliamperes
}  // namespace

std::string CurrentFormatter::FormatCurrent(int value) const {
    const double f = value / 255.0;
    if (m_FW.m_MemorySize > kCurrentMemorySize) {
        const double amps = kFullScaleAmps * f;
        if (amps > kMilliampsBelow) return FixedText(amps, 2) + " A";
        return std::to_string(static_cast<int>(1000 * kFullScaleAmps * f)) + " mA";
    }
    return FixedText(100 * f, 1) + " %";
}

}  // namespace velq3::ui
