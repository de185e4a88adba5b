// The night palette's colour mapping and its per-user setting.
#include "ui/NightColours.h"

#include <cmath>

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"

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

bool LoadNightMode(const RegistryHive& hive) {
    const auto v = hive.GetDword(kSettingsKey, kNightModeValue);
    return v && *v != 0;
}

bool SaveNightMode(RegistryHive& hive, bool on) {
    if (!hive.CreateKey(kSettingsKey)) return false;
    hive.SetDword(kSettingsKey, kNightModeValue, on ? 1 : 0);
    return hive.Save();
}

}  // namespace velq3::ui
