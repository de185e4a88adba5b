// Type-library registration keys, the lookup that loads a library by LIBID, version and
// locale, and the once-loaded cache behind IDispatch.
#include "automation/TypeLibRegistration.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace velq3 {

namespace {

std::string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string VersionName(std::uint16_t major, std::uint16_t minor) { return Hex(major) + "." + Hex(minor); }

std::string LibKey(const TypeLib& lib) { return "TypeLib\\" + FormatGuid(lib.libid); }

std::optional<std::pair<unsigned, unsigned>> ParseVersion(const std::string& name) {
    unsigned major = 0, minor = 0;
    int used = 0;
    if (std::sscanf(name.c_str(), "%x.%x%n", &major, &minor, &used) != 2 || used != static_cast<int>(name.size()))
        return std::nullopt;
    return std::make_pair(major, minor);
}

} // namespace

HRESULT RegisterTypeLib(RegistryHive& classesRoot, const TypeLib& lib, const std::string& path,
                        const std::string& helpDir) {
    const std::string ver = LibKey(lib) + "\\" + VersionName(lib.majorVersion, lib.minorVersion);
    bool ok = classesRoot.SetString(ver, "", lib.helpString) && classesRoot.SetString(ver + "\\FLAGS", "", "0") &&
              classesRoot.SetString(ver + "\\HELPDIR", "", helpDir) &&
              classesRoot.SetString(ver + "\\" + Hex(lib.lcid) + "\\" + std::string(kTypeLibPlatformKey), "", path);
    for (const TypeInfo& t : lib.interfaces) {
        const std::string key = "Interface\\" + FormatGuid(t.Guid());
        ok = ok && classesRoot.SetString(key, "", t.Name()) &&
             classesRoot.SetString(key + "\\ProxyStubClsid", "", FormatGuid(CLSID_PSOAInterface)) &&
             classesRoot.SetString(key + "\\ProxyStubClsid32", "", FormatGuid(CLSID_PSOAInterface)) &&
             classesRoot.SetString(key + "\\TypeLib", "", FormatGuid(lib.libid)) &&
             classesRoot.SetString(key + "\\TypeLib", "Version", VersionName(lib.majorVersion, lib.minorVersion));
    }
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(RegistryHive& classesRoot, const TypeLib& lib) {
    const std::string libKey = LibKey(lib);
    if (!classesRoot.DeleteKeyTree(libKey + "\\" + VersionName(lib.majorVersion, lib.minorVersion)))
        return TYPE_E_LIBNOTREGISTERED;
    if (classesRoot.SubKeys(libKey).empty()) classesRoot.DeleteKeyTree(libKey);
    for (const TypeInfo& t : lib.interfaces) {
        const std::string key = "Interface\\" + FormatGuid(t.Guid());
        // Another library may have taken the interface over since: leave its key alone.
        if (classesRoot.GetString(key + "\\TypeLib", "") == FormatGuid(lib.libid)) classesRoot.DeleteKeyTree(key);
    }
    return S_OK;
}

HRESULT LoadRegTypeLib(const RegistryHive& classesRoot, const TypeLib& lib, std::uint16_t major, std::uint16_t minor,
                       LCID lcid, const TypeLib** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::string libKey = LibKey(lib);
    std::optional<std::string> version;
    unsigned bestMinor = 0;
    for (const std::string& name : classesRoot.SubKeys(libKey)) {
        const auto v = ParseVersion(name);
        if (!v || v->first != major || v->second < minor) continue;
        if (!version || v->second > bestMinor) {
            version = name;
            bestMinor = v->second;
        }
    }
    if (!version) return TYPE_E_LIBNOTREGISTERED;
    std::optional<std::string> path;
    for (const unsigned locale : {lcid, lcid & 0x3FFu, 0u}) {
        path = classesRoot.GetString(libKey + "\\" + *version + "\\" + Hex(locale) + "\\" + std::string(kTypeLibPlatformKey), "");
        if (path) break;
    }
    if (!path) return TYPE_E_LIBNOTREGISTERED;
    std::error_code ec;
    if (path->empty() || !std::filesystem::exists(*path, ec)) return TYPE_E_CANTLOADLIBRARY;
    *out = &lib;
    return S_OK;
}

HRESULT TypeLibLoader::GetTypeInfoOfGuid(const IID& iid, const TypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const TypeLib* lib = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_Mutex);
        if (!m_Loaded) {
            HRESULT hr = LoadRegTypeLib(m_Hive, m_Lib, m_Lib.majorVersion, m_Lib.minorVersion, m_Lib.lcid, &m_Loaded);
            if (Failed(hr) && Succeeded(LoadFromChangedFile(&m_Loaded))) hr = S_OK;
            if (Failed(hr)) return hr;
        }
        lib = m_Loaded;
    }
    *out = lib->FindInterface(iid);
    return *out ? S_OK : TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibLoader::LoadFromChangedFile(const TypeLib** out) {
    struct stat st {};
    if (m_Hive.File().empty() || ::stat(m_Hive.File().c_str(), &st) != 0) return TYPE_E_LIBNOTREGISTERED;
    // A save replaces the file (a new inode); the other fields catch an edit in place.
    const std::array<std::int64_t, 5> seen{static_cast<std::int64_t>(st.st_dev), static_cast<std::int64_t>(st.st_ino),
                                           static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_ctim.tv_sec),
                                           static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
    if (m_SeenFile == seen) return TYPE_E_LIBNOTREGISTERED;
    m_SeenFile = seen;
    // A hive of its own: the caller's copy is left as it is, and so are its unsaved changes.
    HiveOptions quiet;
    quiet.diagnostics = [](std::string_view) {};
    RegistryHive fresh(m_Hive.File(), m_Hive.RootName(), std::move(quiet));
    if (fresh.Load() != RegistryHive::LoadResult::Loaded) return TYPE_E_LIBNOTREGISTERED;
    return LoadRegTypeLib(fresh, m_Lib, m_Lib.majorVersion, m_Lib.minorVersion, m_Lib.lcid, out);
}

bool TypeLibLoader::IsLoaded() {
    std::lock_guard<std::mutex> hold(m_Mutex);
    return m_Loaded != nullptr;
}

} // namespace velq3
