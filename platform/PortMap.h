// Maps the controller's port numbers COM1..COM16 to device paths: Linux terminal devices (a
// table plus per-user overrides), or on Windows the ports' own names "\\.\COMn".
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velq3 {

constexpr int kFirstPortNumber = 1;
constexpr int kLastPortNumber = 16;

// Looks up a per-user override ("SerialDevice%i") for a port number; empty when not set.
using PortOverride = std::function<std::optional<std::string>(int portNumber)>;

// Linux default table: COM1..COM8 = /dev/ttyUSB0..7, COM9..COM12 = /dev/ttyACM0..3,
// COM13..COM16 = /dev/ttyS0..3. Windows: "\\.\COMn". Numbers outside 1..16 have no default
// and give "".
std::string DefaultDevicePath(int portNumber);

// Linux: the override when one is set and not empty, else the default path. Windows has no
// overrides: always the port's own name.
std::string DevicePathForPort(int portNumber, const PortOverride& override = {});

// "COM%i" as shown to the operator.
std::string PortDisplayName(int portNumber);

// Where udev puts the stable names of serial adapters (maker, model and serial number).
inline const std::filesystem::path kDefaultByIdDir = "/dev/serial/by-id";

// The path with every symbolic link resolved; the path itself when it cannot be resolved
// (missing, dangling link) or is empty.
std::string ResolvePortPath(const std::string& path);

// The full path of the first link (by name) in `byIdDir` that resolves to the same device as
// `devicePath`; "" when there is none or the folder is missing.
std::string ByIdName(const std::string& devicePath, const std::filesystem::path& byIdDir = kDefaultByIdDir);

// Whether another program holds a port, as seen by the open the serial code does.
enum class PortUse { Absent, Free, Held, NoPermission, Unknown };

// Tries a non-blocking open of the device: EBUSY (the exclusive-use flag) or a refused
// advisory lock mean held; the lock is given back at once.
PortUse ProbePortUse(const std::string& path);

// One row of the port table.
struct PortInfo {
    int number = 0;
    std::string name;          // "COMn"
    std::string configured;    // the path given for the port (an override or the default)
    std::string path;          // the same with links resolved
    std::string byId;          // its stable name, or ""
    bool present = false;      // the device node exists
    PortUse use = PortUse::Absent;
};

// Describes port n whose configured path is `configured`. With `probe` false the device is
// not opened (`use` stays Absent or Unknown).
PortInfo DescribePort(int portNumber, const std::string& configured,
                      const std::filesystem::path& byIdDir = kDefaultByIdDir, bool probe = true);

// The table printed by `velq3 --list-ports`: a heading line, then one line per port.
std::string FormatPortTable(const std::vector<PortInfo>& ports);

// One line for a port that cannot be opened for lack of permission, naming the device's
// owner group that the user should join (usually dialout), or saying that a folder on the
// way is closed when the device node cannot be looked at.
std::string PermissionMessage(const std::string& path);

} // namespace velq3
