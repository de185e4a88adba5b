// The environment readings shared by the systems' per-user folder bodies (linux/, win32/).
#include "platform/UserPathVariables.h"

#include "platform/Files.h"

namespace velq3::detail {

std::optional<std::string> NonEmptyVariable(const EnvLookup& env, const char* name) {
    auto value = env(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

std::optional<std::filesystem::path> VelqHome(const EnvLookup& env) {
    auto value = NonEmptyVariable(env, "VELQ3_HOME");
    if (!value) return std::nullopt;
    return std::filesystem::absolute(Utf8Path(*value));
}

}  // namespace velq3::detail
