// Port numbers on Windows: COMn is the port's own name, opened as "\\.\COMn".
#include "platform/PortMap.h"

#include "platform/win32/Utf16.h"

#include <windows.h>

namespace velq3 {

std::string DefaultDevicePath(int n) {
    if (n < kFirstPortNumber || n > kLastPortNumber) return {};
    return "\\\\.\\COM" + std::to_string(n);
}

// Windows has no device paths to choose between: the override table is Linux-only.
std::string DevicePathForPort(int n, const PortOverride&) { return DefaultDevicePath(n); }

std::string ResolvePortPath(const std::string& path) { return path; }

std::string ByIdName(const std::string&, const std::filesystem::path&) { return {}; }

PortUse ProbePortUse(const std::string& path) {
    if (path.empty()) return PortUse::Absent;
    HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        // A device of that name that is not a serial port (Wine opens a COM name whose device
        // is missing and fails its requests) has no port behind it.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const bool serial = ::GetCommState(h, &dcb);
        ::CloseHandle(h);
        return serial ? PortUse::Free : PortUse::Absent;
    }
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_BAD_PATHNAME: return PortUse::Absent;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: return PortUse::Held;
    default: return PortUse::Unknown;
    }
}

namespace {

// Whether the system knows the port (its DOS device name exists), without opening it.
bool PortExists(int n) {
    wchar_t target[512];
    const std::wstring name = L"COM" + std::to_wstring(n);
    return ::QueryDosDeviceW(name.c_str(), target, 512) != 0;
}

}  // namespace

PortInfo DescribePort(int n, const std::string& configured, const std::filesystem::path&, bool probe) {
    PortInfo info;
    info.number = n;
    info.name = PortDisplayName(n);
    info.configured = configured;
    info.path = configured;
    if (probe) {
        info.use = ProbePortUse(configured);
        info.present = info.use != PortUse::Absent;
    } else {
        info.present = !configured.empty() && PortExists(n);
        info.use = info.present ? PortUse::Unknown : PortUse::Absent;
    }
    return info;
}

std::string PermissionMessage(const std::string& path) {
    return "no permission to open " + path + ": another program may hold it";
}

}  // namespace velq3
