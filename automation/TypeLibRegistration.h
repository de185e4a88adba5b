// Registration of a type library in the classes-root hive, and its loading through that
// registration: late-bound calls work only while the library is registered.
#pragma once

#ifdef _WIN32
#include "automation/win32/TypeLibLoader.h"
#else

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "automation/TypeInfo.h"
#include "platform/Registry.h"

namespace velq3 {

// The platform key under a library's locale that names its file.
inline constexpr std::string_view kTypeLibPlatformKey = "win32";

// Writes TypeLib\{LIBID}\<major.minor> (help string, FLAGS, HELPDIR and <lcid>\win32 = `path`,
// the file that holds the library) and Interface\{IID} for each interface (name, the type
// library marshaller, TypeLib with Version). The caller saves the hive.
// TYPE_E_REGISTRYACCESS when a key cannot be written.
HRESULT RegisterTypeLib(RegistryHive& classesRoot, const TypeLib& lib, const std::string& path,
                        const std::string& helpDir = "");

// Removes what RegisterTypeLib wrote for this version (the LIBID key too once it has no
// other version). TYPE_E_LIBNOTREGISTERED when this version is not registered.
HRESULT UnRegisterTypeLib(RegistryHive& classesRoot, const TypeLib& lib);

// Finds the registration of `lib` for version major.minor (a registered minor version at
// least `minor`) and locale `lcid` (else its primary language, else locale 0), and checks
// that the file it names exists. The library itself is the one compiled into the program.
// TYPE_E_LIBNOTREGISTERED without a registration, TYPE_E_CANTLOADLIBRARY when the file is gone.
HRESULT LoadRegTypeLib(const RegistryHive& classesRoot, const TypeLib& lib, std::uint16_t major, std::uint16_t minor,
                       LCID lcid, const TypeLib** out);

// Loads the library on first use through its registration and keeps it from then on. A
// failed load is not kept: the next call tries again (after a registration it succeeds). A
// registration that another process (a "/regserver" run) saved since the hive was read is
// found too: when the hive's file changed, it is read again before the retry.
class TypeLibLoader {
public:
    TypeLibLoader(const TypeLib& lib, const RegistryHive& classesRoot) : m_Lib(lib), m_Hive(classesRoot) {}
    TypeLibLoader(const TypeLibLoader&) = delete;
    TypeLibLoader& operator=(const TypeLibLoader&) = delete;

    // The type information of interface `iid`; TYPE_E_ELEMENTNOTFOUND for an interface that
    // is not in the library.
    HRESULT GetTypeInfoOfGuid(const IID& iid, const TypeInfo** out);
    bool IsLoaded();

private:
    // The load through the hive as its file is now, when that file changed since last seen.
    HRESULT LoadFromChangedFile(const TypeLib** out);

    const TypeLib& m_Lib;
    const RegistryHive& m_Hive;
    std::mutex m_Mutex;  // serialises the first load
    const TypeLib* m_Loaded = nullptr;
    std::optional<std::array<std::int64_t, 5>> m_SeenFile;  // device, inode, size, change time
};

} // namespace velq3

#endif // _WIN32
