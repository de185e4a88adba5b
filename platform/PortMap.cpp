// Port-number to device-path mapping with the default table and per-user overrides.
#include "platform/PortMap.h"

namespace velq3 {

std::string DefaultDevicePath(int n) {
    if (n >= 1 && n <= 8) return "/dev/ttyUSB" + std::to_string(n - 1);
    if (n >= 9 && n <= 12) return "/dev/ttyACM" + std::to_string(n - 9);
    if (n >= 13 && n <= 16) return "/dev/ttyS" + std::to_string(n - 13);
    return {};
}

std::string DevicePathForPort(int n, const PortOverride& override) {
    if (override) {
        if (auto path = override(n); path && !path->empty()) return *path;
    }
    return DefaultDevicePath(n);
}

std::string PortDisplayName(int n) { return "COM" + std::to_string(n); }

} // namespace velq3
