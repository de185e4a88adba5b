// Motor current texts: the coded byte scaled to amperes or to a percentage of full scale.
#include "ui/CurrentFormatter.h"

namespace velq3::ui {

namespace {
constexpr int kCurrentMemorySize = 200;  // devices with more memory hold the running current
constexpr double kFullScaleAmps = 1.5;
constexpr double kMilliampsBelow = 0.3;  // amps up to this are shown in milliamperes
}  // namespace

QString CurrentFormatter::FormatCurrent(int value) const {
    const double f = value / 255.0;
    if (m_FW.m_MemorySize > kCurrentMemorySize) {
        const double amps = kFullScaleAmps * f;
        if (amps > kMilliampsBelow) return QString::asprintf("%.2f A", amps);
        return QString::asprintf("%i mA", static_cast<int>(1000 * kFullScaleAmps * f));
    }
    return QString::asprintf("%.1f %%", 100 * f);
}

}  // namespace velq3::ui
