// Maps the controller's port numbers COM1..COM16 to Linux terminal device paths.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velq3 {

constexpr int kFirstPortNumber = 1;
constexpr int kLastPortNumber = 16;

// Looks up a per-user override ("SerialDevice%i") for a port number; empty when not set.
using PortOverride = std::function<std::optional<std::string>(int portNumber)>;

// Default table: COM1..COM8 = /dev/ttyUSB0..7, COM9..COM12 = /dev/ttyACM0..3,
// COM13..COM16 = /dev/ttyS0..3. Numbers outside 1..16 have no default and give "".
std::string DefaultDevicePath(int portNumber);

// The override when one is set and not empty, else the default path.
std::string DevicePathForPort(int portNumber, const PortOverride& override = {});

// "COM%i" as shown to the operator.
std::string PortDisplayName(int portNumber);

} // namespace velq3
