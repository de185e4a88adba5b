// The controller simulator of tests that run on either platform, and the user settings of a
// test fixture: on Linux the simulator is a child process on a pseudo-terminal and the settings
// a hive file in the fixture's folder; under Wine the Linux simulator is started through Wine and
// the settings are a registry key of the fixture's own.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Registry.h"

#ifdef _WIN32
#include "windows/WineSimProcess.h"
#else
#include "common/SimProcess.h"
#endif

namespace velq3::test {

#ifdef _WIN32
inline std::filesystem::path FixtureHiveFile(const TempDir&) { return {}; }
inline std::string FixtureHiveRoot(const TempDir& dir) { return dir.registryRoot(); }
#else
inline std::filesystem::path FixtureHiveFile(const TempDir& dir) { return dir.file("user.reg"); }
inline std::string FixtureHiveRoot(const TempDir&) { return std::string(kCurrentUserRoot); }
#endif

}  // namespace velq3::test
