// The night palette's colour mapping and its per-user setting.
#include "ui/NightColours.h"

#include <cmath>

#include "ui/UserSwitch.h"

namespace velq3::ui {

double NightLightness(Rgb c) {
    const double luma = (0.299 * c.r + 0.587 * c.g + 0.114 * c.b) / 255.0;
    return std::pow(luma, 0.6);
}

Rgb NightRgb(Rgb c) {
    if (c.g == 0 && c.b == 0 && c.r <= kNightBrightest) return c;
    return {static_cast<int>(std::lround(kNightBrightest * NightLightness(c))), 0, 0};
}

Rgb NightDimRgb(Rgb c) { return {24 + static_cast<int>(std::lround(72 * NightLightness(c))), 0, 0}; }

bool LoadNightMode(const RegistryHive& hive) { return LoadUserSwitch(hive, kNightModeValue); }

bool SaveNightMode(RegistryHive& hive, bool on) { return SaveUserSwitch(hive, kNightModeValue, on); }

}  // namespace velq3::ui
