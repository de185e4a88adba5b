// The graph readings' setting.
#include "ui/GraphReadingsSetting.h"

#include "ui/UserSwitch.h"

namespace velq3::ui {

bool LoadGraphReadings(const RegistryHive& hive) { return LoadUserSwitch(hive, kGraphReadingsValue); }

bool SaveGraphReadings(RegistryHive& hive, bool on) { return SaveUserSwitch(hive, kGraphReadingsValue, on); }

}  // namespace velq3::ui
