// Per-user folders: resolves the environment into paths and creates them safely.
#include "platform/UserPaths.h"

#include "platform/UserPathVariables.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace velq3 {

namespace fs = std::filesystem;

namespace {

using detail::kAppFolder;
using detail::NonEmptyVariable;
using detail::VelqHome;

// XDG variables count only when they hold an absolute path.
std::optional<fs::path> XdgBase(const EnvLookup& env, const char* name) {
    auto value = NonEmptyVariable(env, name);
    if (!value) return std::nullopt;
    fs::path path(*value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

fs::path HomeDir(const EnvLookup& env) {
    if (auto home = NonEmptyVariable(env, "HOME")) return fs::path(*home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir) {
        return fs::path(found->pw_dir);
    }
    throw std::runtime_error("cannot find the home folder: HOME is not set and the user has no "
                             "password entry");
}

[[noreturn]] void ThrowErrno(int error, const std::string& what, const fs::path& path) {
    throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

// Creates every missing component of `path` with `mode` (then exactly `mode`, whatever the umask).
void MakeDirs(const fs::path& path, mode_t mode) {
    std::vector<fs::path> missing;
    for (fs::path p = path; !p.empty(); p = p.parent_path()) {
        struct stat st {};
        if (stat(p.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) ThrowErrno(ENOTDIR, "cannot create folder", p);
            break;
        }
        if (errno != ENOENT) ThrowErrno(errno, "cannot inspect folder", p);
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), mode) == 0) {
            chmod(it->c_str(), mode);
        } else if (errno != EEXIST) {
            ThrowErrno(errno, "cannot create folder", *it);
        }
    }
}

// The runtime folder holds the automation socket, so it must not be someone else's or a link.
void MakePrivateDir(const fs::path& path) {
    MakeDirs(path.parent_path(), 0700);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        ThrowErrno(errno, "cannot create runtime folder", path);
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) ThrowErrno(errno, "cannot inspect runtime folder", path);
    if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error("runtime folder " + path.string() +
                                 " is not a directory (a link or file is in its place)");
    }
    if (st.st_uid != geteuid()) {
        throw std::runtime_error("runtime folder " + path.string() + " belongs to uid " +
                                 std::to_string(st.st_uid) + ", not to this user");
    }
    if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
        ThrowErrno(errno, "cannot make runtime folder private", path);
    }
}

fs::path Ensure(fs::path path) {
    MakeDirs(path, 0700);
    return path;
}

}  // namespace

EnvLookup ProcessEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
    };
}

fs::path ConfigDir(const EnvLookup& env) {
    if (auto home = VelqHome(env)) return Ensure(*home / "config");
    if (auto base = XdgBase(env, "XDG_CONFIG_HOME")) return Ensure(*base / kAppFolder);
    return Ensure(HomeDir(env) / ".config" / kAppFolder);
}

fs::path DataDir(const EnvLookup& env) {
    if (auto home = VelqHome(env)) return Ensure(*home / "data");
    if (auto base = XdgBase(env, "XDG_DATA_HOME")) return Ensure(*base / kAppFolder);
    return Ensure(HomeDir(env) / ".local" / "share" / kAppFolder);
}

fs::path RuntimeDir(const EnvLookup& env) {
    fs::path path;
    if (auto home = VelqHome(env)) {
        path = *home / "run";
    } else if (auto base = XdgBase(env, "XDG_RUNTIME_DIR")) {
        path = *base / kAppFolder;
    } else {
        path = fs::path("/tmp") / (std::string(kAppFolder) + "-" + std::to_string(getuid()));
    }
    MakePrivateDir(path);
    return path;
}

}  // namespace velq3
