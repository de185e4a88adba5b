// Per-user on/off choices of the windows.
#include "ui/UserSwitch.h"

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"

namespace velq3::ui {

bool LoadUserSwitch(const RegistryHive& hive, std::string_view value) {
    const auto v = hive.GetDword(kSettingsKey, value);
    return v && *v != 0;
}

bool SaveUserSwitch(RegistryHive& hive, std::string_view value, bool on) {
    if (!hive.CreateKey(kSettingsKey)) return false;
    hive.SetDword(kSettingsKey, value, on ? 1 : 0);
    return hive.Save();
}

}  // namespace velq3::ui
