// The registry scripts of the five classes and the registrar that runs them.
#include "server/Registration.h"

#include "automation/TypeLibRegistration.h"
#include "automation/VelqTypeLib.h"

namespace velq3 {

namespace {

std::string Expand(const std::string& text, const std::map<std::string, std::string>& replacements) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find('%', i + 1);
        if (end == std::string::npos) {
            out += text.substr(i);
            break;
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        const auto it = replacements.find(name);
        if (name.empty()) out += '%';
        else if (it != replacements.end()) out += it->second;
        else out += text.substr(i, end - i + 1);
        i = end;
    }
    return out;
}

bool RegisterKey(RegistryHive& hive, const std::string& parent, const RegistryScriptKey& key,
                 const std::map<std::string, std::string>& replacements) {
    const std::string path = (parent.empty() ? "" : parent + "\\") + Expand(key.name, replacements);
    if (key.forceRemove) hive.DeleteKeyTree(path);
    bool ok = hive.CreateKey(path);
    if (key.defaultValue) ok = hive.SetString(path, "", Expand(*key.defaultValue, replacements)) && ok;
    for (const auto& [name, value] : key.values) ok = hive.SetString(path, name, Expand(value, replacements)) && ok;
    for (const RegistryScriptKey& sub : key.subkeys) ok = RegisterKey(hive, path, sub, replacements) && ok;
    return ok;
}

void UnregisterKey(RegistryHive& hive, const std::string& parent, const RegistryScriptKey& key,
                   const std::map<std::string, std::string>& replacements) {
    const std::string path = (parent.empty() ? "" : parent + "\\") + Expand(key.name, replacements);
    if (!hive.KeyExists(path)) return;
    if (key.forceRemove) {
        hive.DeleteKeyTree(path);
        return;
    }
    for (const RegistryScriptKey& sub : key.subkeys) UnregisterKey(hive, path, sub, replacements);
    if (key.noRemove) return;
    for (const auto& [name, value] : key.values) hive.DeleteValue(path, name);
    if (hive.SubKeys(path).empty()) hive.DeleteKeyTree(path);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

} // namespace

RegistryScript DriverRegistryScript(const DriverClass& c) {
    const std::string progId(c.progId);
    const std::string clsid = FormatGuid(c.clsid);
    RegistryScriptKey progIdKey{progId, std::string(c.progIdName), {}, false, false, {{"CLSID", clsid, {}, false, false, {}}}};
    RegistryScriptKey classKey{clsid, std::string(c.clsidName), {}, true, false, {}};
    classKey.subkeys = {
        {"ProgID", progId, {}, false, false, {}},
        {"Programmable", std::nullopt, {}, true, false, {}},
        {"LocalServer32", "%MODULE%", {{"ServerExecutable", "%MODULE_RAW%"}}, false, false, {}},
        {"TypeLib", FormatGuid(LIBID_VELQLib), {}, false, false, {}},
        {"Version", "1.0", {}, false, false, {}},
    };
    RegistryScriptKey clsidRoot{"CLSID", std::nullopt, {}, false, true, {classKey}};
    return {progIdKey, clsidRoot};
}

bool RunRegistryScript(RegistryHive& hive, const RegistryScript& script, bool registering,
                       const std::map<std::string, std::string>& replacements) {
    bool ok = true;
    for (const RegistryScriptKey& key : script) {
        if (registering) ok = RegisterKey(hive, "", key, replacements) && ok;
        else UnregisterKey(hive, "", key, replacements);
    }
    return ok;
}

HRESULT RegisterServer(RegistryHive& classesRoot, const std::filesystem::path& executable) {
    const std::string path = executable.string();
    const std::map<std::string, std::string> replacements{{"MODULE", Quoted(path)}, {"MODULE_RAW", path}};
    HRESULT hr = S_OK;
    for (const DriverClass& c : DriverClasses())
        if (!RunRegistryScript(classesRoot, DriverRegistryScript(c), true, replacements) && Succeeded(hr))
            hr = E_FAIL;
    if (HRESULT lib = RegisterTypeLib(classesRoot, VelqTypeLib(), path); Failed(lib) && Succeeded(hr)) hr = lib;
    if (!classesRoot.Save() && Succeeded(hr)) hr = E_FAIL;
    return hr;
}

HRESULT UnregisterServer(RegistryHive& classesRoot) {
    for (const DriverClass& c : DriverClasses()) RunRegistryScript(classesRoot, DriverRegistryScript(c), false, {});
    HRESULT hr = UnRegisterTypeLib(classesRoot, VelqTypeLib());
    if (!classesRoot.Save() && Succeeded(hr)) hr = E_FAIL;
    return hr;
}

} // namespace velq3
