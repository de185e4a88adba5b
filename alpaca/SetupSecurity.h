// Checks that keep the setup pages to this machine's own users and keep what they store safe:
// the Host a request names, the per-run form token, the bind address, and serial device paths.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PortMap.h"

namespace velq3::alpaca {

// A new random token of 32 hex digits (128 bits) for the settings form of one run.
std::string NewFormToken();

// The host part of a Host header, without its port or IPv6 brackets, in lower case; empty when
// the header is malformed.
std::string HostOfHeader(std::string_view host);

// True when `address` (IPv4 or IPv6 text) is one of this machine's interface addresses.
bool IsOwnAddress(const std::string& address);

// True for a Host header naming the bound address, localhost, an address of this machine or one
// of its names. A page served under another name (a rebound DNS name) is refused.
bool HostAllowed(std::string_view hostHeader, const std::string& boundAddress);

// Empty when `address` may be stored as the bind address: loopback, every interface (0.0.0.0 or
// ::) or an address this machine has; else why not.
std::string BindAddressProblem(const std::string& address,
                               const std::function<bool(const std::string&)>& ownAddress = IsOwnAddress);

// How device paths are looked at; replaced in tests.
struct SerialPathLookup {
    // The path with every link resolved, or nothing when it does not exist.
    std::function<std::optional<std::string>(const std::string&)> resolve;
    // Whether the (resolved) path is a character device.
    std::function<bool(const std::string&)> isCharDevice;
    std::filesystem::path byIdDir = kDefaultByIdDir;
    static SerialPathLookup System();
};

// True for a device name a serial port has: ttyUSB<n>, ttyACM<n>, ttyS<n>, ttyAMA<n>, rfcomm<n>.
bool IsSerialDeviceName(std::string_view name);

// Empty when `path` may be opened as the controller's serial port: /dev/<serial name> itself, or
// a link in the stable-name folder to one, that is a character device; else why not.
std::string SerialPathProblem(const std::string& path, const SerialPathLookup& lookup = SerialPathLookup::System());

}  // namespace velq3::alpaca
