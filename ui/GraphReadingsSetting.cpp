// The graph readings' setting.
#include "ui/GraphReadingsSetting.h"

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"

namespace velq3::ui {

bool LoadGraphReadings(const RegistryHive& hive) {
    const auto v = hive.GetDword(kSettingsKey, kGraphReadingsValue);
    return v && *v != 0;
}

bool SaveGraphReadings(RegistryHive& hive, bool on) {
    if (!hive.CreateKey(kSettingsKey)) return false;
    hive.SetDword(kSettingsKey, kGraphReadingsValue, on ? 1 : 0);
    return hive.Save();
}

}  // namespace velq3::ui
