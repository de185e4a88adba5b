// Self-registration of the five automation classes and their type library in the classes-root
// hive, and its removal: one registry script per class, run in register or unregister mode.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "automation/HResult.h"
#include "drivers/DriverClasses.h"
#include "platform/Registry.h"

namespace velq3 {

// One key of a registry script with its default value, named string values and subkeys.
// Registering writes the key (a force-remove key is first deleted with everything under it);
// unregistering deletes a force-remove key whole, leaves a no-remove key, and deletes any
// other key once the script's subkeys under it are gone and no other subkey is left.
struct RegistryScriptKey {
    std::string name;
    std::optional<std::string> defaultValue;
    std::vector<std::pair<std::string, std::string>> values;
    bool forceRemove = false;
    bool noRemove = false;
    std::vector<RegistryScriptKey> subkeys;
};
using RegistryScript = std::vector<RegistryScriptKey>;

// The script of one class, with the placeholders %MODULE% (the quoted full path of the
// executable) and %MODULE_RAW% (the unquoted path).
RegistryScript DriverRegistryScript(const DriverClass& c);

// Runs `script` on `hive` with every "%NAME%" in names and values replaced from
// `replacements` ("%%" stands for one '%'). False when a key or value could not be written.
bool RunRegistryScript(RegistryHive& hive, const RegistryScript& script, bool registering,
                       const std::map<std::string, std::string>& replacements);

// "/regserver": every class's script in register mode, then the type library under the
// executable's path without a help folder; the hive is saved. S_OK, or the first failure
// (later steps still run).
HRESULT RegisterServer(RegistryHive& classesRoot, const std::filesystem::path& executable);

// "/unregserver": every class's script in unregister mode, then the type library's
// registration is removed; the hive is saved.
HRESULT UnregisterServer(RegistryHive& classesRoot);

} // namespace velq3
