// The serial port a new driver offers, and a plain-words reason why a port cannot be used.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velq3::indi {

// The first of /dev/serial/by-id/* (sorted), else the first of /dev/ttyUSB0..7 and
// /dev/ttyACM0..3 that exists, else /dev/ttyUSB0.
std::string DefaultSerialPort();

// The serial ports present now: /dev/serial/by-id/* (sorted) first, then the /dev/ttyUSB* and
// /dev/ttyACM* devices that no by-id name points at.
std::vector<std::string> PresentSerialPorts();

// Why `path` cannot be opened by this program, when that is the case: missing, not a
// terminal, no permission, or held by another program. None when the port itself looks usable
// (the controller then did not answer). Opens and closes the port without configuring it.
std::optional<std::string> DescribePortProblem(const std::string& path);

} // namespace velq3::indi
