// The addresses of this machine's network interfaces, and which serial device paths exist.
#pragma once

#include <string>
#include <vector>

namespace velq3::alpaca {

// Every IPv4 and IPv6 address of the machine's interfaces, in the text of inet_ntop.
std::vector<std::string> LocalAddresses();

// True when `path` is a character device (Linux); Windows has no such paths for serial ports.
bool IsCharacterDevice(const std::string& path);

}  // namespace velq3::alpaca
