// Registry keys of the registration, written with the Win32 registry functions.
#include "server/win32/ComRegistration.h"

#include <oleauto.h>

#include "automation/Bstr.h"
#include "automation/Guid.h"
#include "automation/VelqTypeLib.h"
#include "drivers/DriverClasses.h"

namespace velq3 {

namespace {

constexpr const wchar_t* kAscomProfileRoot = L"SOFTWARE\\ASCOM";
constexpr const char* kTypeLibMarshaler = "{00020424-0000-0000-C000-000000000046}";
constexpr LCID kTypeLibLcid = 0x409;
// Both views: 64-bit clients read the native one, 32-bit clients (most ASCOM programs) the
// redirected one.
constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

std::wstring W(std::string_view s) { return WideFromUtf8(s); }

// Creates `path` under `root` in `view` and sets its default value (when given) and named
// string values.
LONG WriteKey(HKEY root, const std::wstring& path, REGSAM view, const std::wstring* defaultValue,
              const std::vector<std::pair<std::wstring, std::wstring>>& values = {}) {
    HKEY key = nullptr;
    LONG rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr,
                                &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    auto set = [key](const wchar_t* name, const std::wstring& value) {
        return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    if (defaultValue) rc = set(nullptr, *defaultValue);
    for (const auto& [name, value] : values)
        if (LONG r = set(name.c_str(), value); r != ERROR_SUCCESS) rc = r;
    ::RegCloseKey(key);
    return rc;
}

// Deletes `path` with everything under it; a key that is not there counts as deleted.
LONG DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegDeleteKeyExW(root, path.c_str(), view, 0);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Deletes `path` only when nothing is left under it.
void DeleteIfEmpty(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    const bool empty = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                          nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    ::RegCloseKey(key);
    if (empty) ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// The per-user functions of OLE Automation, looked up by name; missing ones mean the
// machine-wide functions are used.
using RegisterForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

template <class Fn>
Fn OleAutFunction(const char* name) {
    HMODULE oleaut = ::GetModuleHandleW(L"oleaut32.dll");
    return oleaut ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(oleaut, name))) : nullptr;
}

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc)); }

// The classes root of the mode: the user's or the machine's.
HKEY ClassesRoot(bool perUser, std::wstring& prefix) {
    prefix = L"Software\\Classes\\";
    return perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

void Keep(HRESULT& first, HRESULT hr) {
    if (Succeeded(first) && Failed(hr)) first = hr;
}

std::wstring LibidKey() { return L"TypeLib\\" + W(FormatGuid(LIBID_VELQLib)) + L"\\1.0"; }

// What registering the type library writes for one interface, for the view the system's own
// registration does not cover.
struct InterfaceEntry {
    const char* name;
    IID iid;
};
const InterfaceEntry kInterfaces[] = {
    {"IFocuser", IFocuser::kIid},
    {"IFilterWheel", IFilterWheel::kIid},
    {"IRotator", IRotator::kIid},
    {"IDome", IDome::kIid},
};

// Registers the library for this process's platform (win64) with the system's function, and
// adds the win32 path and the 32-bit view's interface keys by hand: a 32-bit client looks
// there before it can marshal a call to this server.
HRESULT RegisterLibrary(const RegistrationOptions& options, bool perUser) {
    ITypeLib* lib = nullptr;
    HRESULT hr = ::LoadTypeLibEx(options.executable.c_str(), REGKIND_NONE, &lib);
    if (Failed(hr)) return hr;
    std::wstring path = options.executable;
    const auto forUser = perUser ? OleAutFunction<RegisterForUserFn>("RegisterTypeLibForUser") : nullptr;
    if (forUser) hr = forUser(lib, path.data(), nullptr);
    else hr = ::RegisterTypeLib(lib, path.data(), nullptr);
    lib->Release();
    std::wstring prefix;
    HKEY root = ClassesRoot(perUser, prefix);
    const std::wstring libKey = prefix + LibidKey();
    const std::wstring helpString = L"VELQ3 1.0 Type Library";
    const std::wstring libid = W(FormatGuid(LIBID_VELQLib));
    for (REGSAM view : kViews) {
        Keep(hr, FromWin32(WriteKey(root, libKey, view, &helpString)));
        Keep(hr, FromWin32(WriteKey(root, libKey + L"\\409\\win32", view, &options.executable)));
        Keep(hr, FromWin32(WriteKey(root, libKey + L"\\409\\win64", view, &options.executable)));
        const std::wstring flags = L"0";
        Keep(hr, FromWin32(WriteKey(root, libKey + L"\\FLAGS", view, &flags)));
        // The library names no help file: no help folder either.
        const std::wstring noHelpDir;
        Keep(hr, FromWin32(WriteKey(root, libKey + L"\\HELPDIR", view, &noHelpDir)));
        for (const InterfaceEntry& itf : kInterfaces) {
            const std::wstring key = prefix + L"Interface\\" + W(FormatGuid(itf.iid));
            const std::wstring name = W(itf.name);
            const std::wstring marshaler = W(kTypeLibMarshaler);
            const std::wstring version = L"1.0";
            Keep(hr, FromWin32(WriteKey(root, key, view, &name)));
            Keep(hr, FromWin32(WriteKey(root, key + L"\\ProxyStubClsid", view, &marshaler)));
            Keep(hr, FromWin32(WriteKey(root, key + L"\\ProxyStubClsid32", view, &marshaler)));
            Keep(hr, FromWin32(WriteKey(root, key + L"\\TypeLib", view, &libid, {{L"Version", version}})));
        }
    }
    return hr;
}

HRESULT UnregisterLibrary(bool perUser) {
    const auto forUser = perUser ? OleAutFunction<UnregisterForUserFn>("UnRegisterTypeLibForUser") : nullptr;
    HRESULT hr = forUser ? forUser(LIBID_VELQLib, 1, 0, kTypeLibLcid, SYS_WIN64)
                         : ::UnRegisterTypeLib(LIBID_VELQLib, 1, 0, kTypeLibLcid, SYS_WIN64);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) hr = S_OK;  // nothing to remove
    std::wstring prefix;
    HKEY root = ClassesRoot(perUser, prefix);
    const std::wstring libidKey = prefix + L"TypeLib\\" + W(FormatGuid(LIBID_VELQLib));
    for (REGSAM view : kViews) {
        Keep(hr, FromWin32(DeleteTree(root, libidKey + L"\\1.0", view)));
        DeleteIfEmpty(root, libidKey, view);
        for (const InterfaceEntry& itf : kInterfaces)
            Keep(hr, FromWin32(DeleteTree(root, prefix + L"Interface\\" + W(FormatGuid(itf.iid)), view)));
    }
    return hr;
}

HRESULT RegisterClasses(const RegistrationOptions& options, bool perUser) {
    std::wstring prefix;
    HKEY root = ClassesRoot(perUser, prefix);
    HRESULT hr = S_OK;
    const std::wstring quoted = L"\"" + options.executable + L"\"";
    const std::wstring libid = W(FormatGuid(LIBID_VELQLib));
    const std::wstring version = L"1.0";
    for (const DriverClass& c : DriverClasses()) {
        const std::wstring progId = W(c.progId);
        const std::wstring clsid = W(FormatGuid(c.clsid));
        const std::wstring progIdName = W(c.progIdName);
        const std::wstring clsidName = W(c.clsidName);
        const std::wstring clsidKey = prefix + L"CLSID\\" + clsid;
        for (REGSAM view : kViews) {
            Keep(hr, FromWin32(WriteKey(root, prefix + progId, view, &progIdName)));
            Keep(hr, FromWin32(WriteKey(root, prefix + progId + L"\\CLSID", view, &clsid)));
            // The class key is rewritten whole, so that nothing of an older registration stays.
            Keep(hr, FromWin32(DeleteTree(root, clsidKey, view)));
            Keep(hr, FromWin32(WriteKey(root, clsidKey, view, &clsidName)));
            Keep(hr, FromWin32(WriteKey(root, clsidKey + L"\\ProgID", view, &progId)));
            Keep(hr, FromWin32(WriteKey(root, clsidKey + L"\\Programmable", view, nullptr)));
            Keep(hr, FromWin32(WriteKey(root, clsidKey + L"\\LocalServer32", view, &quoted,
                                        {{L"ServerExecutable", options.executable}})));
            Keep(hr, FromWin32(WriteKey(root, clsidKey + L"\\TypeLib", view, &libid)));
            Keep(hr, FromWin32(WriteKey(root, clsidKey + L"\\Version", view, &version)));
        }
    }
    return hr;
}

HRESULT UnregisterClasses(bool perUser) {
    std::wstring prefix;
    HKEY root = ClassesRoot(perUser, prefix);
    HRESULT hr = S_OK;
    for (const DriverClass& c : DriverClasses()) {
        for (REGSAM view : kViews) {
            Keep(hr, FromWin32(DeleteTree(root, prefix + L"CLSID\\" + W(FormatGuid(c.clsid)), view)));
            Keep(hr, FromWin32(DeleteTree(root, prefix + W(c.progId), view)));
        }
    }
    return hr;
}

// The ASCOM Profile lives in the machine's 32-bit view. Writing it needs administrator
// rights; false when the key cannot be opened for writing.
bool CanWriteProfile(HKEY* key) {
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAscomProfileRoot, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, key, nullptr) == ERROR_SUCCESS;
}

HRESULT WriteChooserEntries() {
    HRESULT hr = S_OK;
    for (const ChooserEntry& e : ChooserEntries()) {
        const std::wstring name = W(e.displayName);
        Keep(hr, FromWin32(WriteKey(HKEY_LOCAL_MACHINE,
                                    std::wstring(kAscomProfileRoot) + L"\\" + W(e.driversKey) + L"\\" + W(e.progId),
                                    KEY_WOW64_32KEY, &name)));
    }
    return hr;
}

HRESULT RemoveChooserEntries() {
    HRESULT hr = S_OK;
    for (const ChooserEntry& e : ChooserEntries())
        Keep(hr, FromWin32(DeleteTree(HKEY_LOCAL_MACHINE,
                                      std::wstring(kAscomProfileRoot) + L"\\" + W(e.driversKey) + L"\\" + W(e.progId),
                                      KEY_WOW64_32KEY)));
    return hr;
}

} // namespace

const std::vector<ChooserEntry>& ChooserEntries() {
    static const std::vector<ChooserEntry> entries = {
        {"Focuser Drivers", "VELQ3.Focuser", "VELQ3 Focuser"},
        {"FilterWheel Drivers", "VELQ3.FilterWheel", "VELQ3 Filter Wheel"},
        {"Rotator Drivers", "VELQ3.Rotator", "VELQ3 Rotator"},
        {"Dome Drivers", "VELQ3.Dome", "VELQ3 Cover (Dome)"},
        {"Focuser Drivers", "VELQ3.Focuser2", "VELQ3 Focuser 2"},
    };
    return entries;
}

RegistrationResult RegisterComServer(const RegistrationOptions& options) {
    RegistrationResult result;
    HKEY profile = nullptr;
    const bool admin = CanWriteProfile(&profile);
    if (profile) ::RegCloseKey(profile);
    // Without administrator rights the machine's classes cannot be written either.
    result.perUser = options.perUser || !admin;
    Keep(result.hr, RegisterClasses(options, result.perUser));
    Keep(result.hr, RegisterLibrary(options, result.perUser));
    if (admin) {
        Keep(result.hr, WriteChooserEntries());
        result.chooserEntries = true;
    } else {
        result.notes.push_back("registered for this user only; the ASCOM Chooser entries need a run of "
                               "\"velq3.exe /regserver\" as administrator");
    }
    return result;
}

RegistrationResult UnregisterComServer(const RegistrationOptions& options) {
    RegistrationResult result;
    HKEY profile = nullptr;
    const bool admin = CanWriteProfile(&profile);
    if (profile) ::RegCloseKey(profile);
    result.perUser = options.perUser || !admin;
    Keep(result.hr, UnregisterClasses(result.perUser));
    Keep(result.hr, UnregisterLibrary(result.perUser));
    if (admin) {
        Keep(result.hr, RemoveChooserEntries());
        result.chooserEntries = true;
    } else {
        result.notes.push_back("the ASCOM Chooser entries can only be removed by a run as administrator");
    }
    return result;
}

} // namespace velq3
