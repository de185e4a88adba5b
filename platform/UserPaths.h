// Per-user folders: settings, runtime (sockets) and data, relocatable under $VELQ3_HOME.
// Every function reads the environment afresh and creates the folder when it is missing.
// Windows: settings in %APPDATA%\velq3, data in %LOCALAPPDATA%\velq3, runtime files in
// %LOCALAPPDATA%\velq3\run (from %USERPROFILE% when those are not set); the XDG rules below
// are Linux's.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace velq3 {

// Looks up one environment variable; an unset variable gives std::nullopt.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;

// The process environment (getenv at each lookup).
EnvLookup ProcessEnvironment();

// Settings folder: $VELQ3_HOME/config, else $XDG_CONFIG_HOME/velq3, else ~/.config/velq3.
// Missing folders are created with mode 0700.
std::filesystem::path ConfigDir(const EnvLookup& env = ProcessEnvironment());

// Runtime folder for sockets: $VELQ3_HOME/run, else $XDG_RUNTIME_DIR/velq3, else
// /tmp/velq3-<uid>. It must be a real directory owned by this user; its mode is forced
// to 0700.
std::filesystem::path RuntimeDir(const EnvLookup& env = ProcessEnvironment());

// Data folder (logs and the like): $VELQ3_HOME/data, else $XDG_DATA_HOME/velq3, else
// ~/.local/share/velq3. Missing folders are created with mode 0700.
std::filesystem::path DataDir(const EnvLookup& env = ProcessEnvironment());

// All three throw std::system_error (or std::runtime_error for an unsafe runtime folder) with
// a message naming the folder when it cannot be made or trusted. Empty and relative XDG
// variables are ignored, as the XDG rules ask; a relative VELQ3_HOME is taken from the
// current directory.

}  // namespace velq3
