// Per-user folders on Windows: settings under %APPDATA%, logs and runtime files under
// %LOCALAPPDATA%, each in a "velq3" folder; $VELQ3_HOME relocates them as on Linux.
#include "platform/UserPaths.h"

#include "platform/Files.h"
#include "platform/UserPathVariables.h"
#include "platform/win32/Utf16.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace velq3 {

namespace fs = std::filesystem;

namespace {

using detail::kAppFolder;
using detail::NonEmptyVariable;
using detail::VelqHome;

// A folder variable such as APPDATA; USERPROFILE and the usual subfolder when it is not set.
fs::path KnownBase(const EnvLookup& env, const char* name, const char* underProfile) {
    if (auto value = NonEmptyVariable(env, name)) {
        fs::path path = Utf8Path(*value);
        if (path.is_absolute()) return path;
    }
    if (auto profile = NonEmptyVariable(env, "USERPROFILE")) return Utf8Path(*profile) / Utf8Path(underProfile);
    throw std::runtime_error(std::string("cannot find the user's folders: neither ") + name +
                             " nor USERPROFILE is set");
}

fs::path Ensure(fs::path path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) throw std::system_error(ec, "cannot create folder " + path.string());
    return path;
}

}  // namespace

EnvLookup ProcessEnvironment() {
    // The wide environment, as UTF-8: the narrow one is in the ANSI code page.
    return [](const char* name) -> std::optional<std::string> {
        const wchar_t* value = ::_wgetenv(win32::Widen(name).c_str());
        if (!value) return std::nullopt;
        return win32::Narrow(value);
    };
}

fs::path ConfigDir(const EnvLookup& env) {
    if (auto home = VelqHome(env)) return Ensure(*home / "config");
    return Ensure(KnownBase(env, "APPDATA", "AppData\\Roaming") / kAppFolder);
}

fs::path DataDir(const EnvLookup& env) {
    if (auto home = VelqHome(env)) return Ensure(*home / "data");
    return Ensure(KnownBase(env, "LOCALAPPDATA", "AppData\\Local") / kAppFolder);
}

// The user's profile folders are the user's own: no ownership check is needed as in /tmp.
fs::path RuntimeDir(const EnvLookup& env) {
    if (auto home = VelqHome(env)) return Ensure(*home / "run");
    return Ensure(KnownBase(env, "LOCALAPPDATA", "AppData\\Local") / kAppFolder / "run");
}

}  // namespace velq3
