// The environment readings every system's per-user folders start from.
#pragma once

#include "platform/UserPaths.h"

#include <filesystem>
#include <optional>
#include <string>

namespace velq3::detail {

// The name of the folder made below the system's per-user folders.
inline constexpr const char* kAppFolder = "velq3";

// The variable's value; std::nullopt when it is unset or empty.
std::optional<std::string> NonEmptyVariable(const EnvLookup& env, const char* name);

// $VELQ3_HOME as an absolute path (a relative one is taken from the current directory), or
// std::nullopt when it is unset or empty.
std::optional<std::filesystem::path> VelqHome(const EnvLookup& env);

}  // namespace velq3::detail
