// The temperature graph's per-user choice of showing each sensor's newest reading in its
// legend, for both toolkit layers.
#pragma once

#include <string_view>

namespace velq3 {
class RegistryHive;
}

namespace velq3::ui {

// The value under the settings key that holds the choice (a DWORD, 0 or 1).
inline constexpr std::string_view kGraphReadingsValue = "GraphReadings";

// The stored choice; off when nothing (or something unreadable) is stored.
bool LoadGraphReadings(const RegistryHive& hive);
// Stores the choice for the next start; false when it could not be saved.
bool SaveGraphReadings(RegistryHive& hive, bool on);

}  // namespace velq3::ui
