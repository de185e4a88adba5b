// Where the out-of-process transport lives: its socket and lock file in the per-user runtime
// folder, and the log of a server that an activation started.
#pragma once

#include <filesystem>

#include "platform/UserPaths.h"

namespace velq3 {

inline constexpr const char* kTransportSocketName = "automation.sock";

// RuntimeDir()/automation.sock.
std::filesystem::path DefaultSocketPath(const EnvLookup& env = ProcessEnvironment());

// The lock file that a serving process holds beside its socket: "<socket>.lock".
std::filesystem::path LockPathFor(const std::filesystem::path& socketPath);

// DataDir()/server.log: standard error of a server started by an activation.
std::filesystem::path DefaultServerLogPath(const EnvLookup& env = ProcessEnvironment());

} // namespace velq3
