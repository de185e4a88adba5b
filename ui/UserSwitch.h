// A per-user on/off choice of the windows: a DWORD, 0 or 1, under the settings key, saved at once.
#pragma once

#include <string_view>

namespace velq3 {
class RegistryHive;
}

namespace velq3::ui {

// The stored choice; off when nothing (or something unreadable) is stored.
bool LoadUserSwitch(const RegistryHive& hive, std::string_view value);
// Stores the choice for the next start; false when it could not be saved.
bool SaveUserSwitch(RegistryHive& hive, std::string_view value, bool on);

}  // namespace velq3::ui
