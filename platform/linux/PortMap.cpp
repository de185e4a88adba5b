// Port numbers on Linux: the default table of terminal devices, per-user overrides, and what
// the device nodes show.
#include "platform/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velq3 {

std::string DefaultDevicePath(int n) {
    if (n >= 1 && n <= 8) return "/dev/ttyUSB" + std::to_string(n - 1);
    if (n >= 9 && n <= 12) return "/dev/ttyACM" + std::to_string(n - 9);
    if (n >= 13 && n <= 16) return "/dev/ttyS" + std::to_string(n - 13);
    return {};
}

std::string DevicePathForPort(int n, const PortOverride& override) {
    if (override) {
        if (auto path = override(n); path && !path->empty()) return *path;
    }
    return DefaultDevicePath(n);
}


namespace fs = std::filesystem;

std::string ResolvePortPath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

std::string ByIdName(const std::string& devicePath, const fs::path& byIdDir) {
    struct stat target {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &target) != 0) return {};
    std::error_code ec;
    std::vector<std::string> matches;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0) continue;  // dangling link
        if (st.st_dev == target.st_dev && st.st_ino == target.st_ino) matches.push_back(it->path().string());
    }
    if (matches.empty()) return {};
    return *std::min_element(matches.begin(), matches.end());
}

PortUse ProbePortUse(const std::string& path) {
    if (path.empty()) return PortUse::Absent;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        switch (errno) {
        case ENOENT: case ENXIO: case ENODEV: case ENOTDIR: return PortUse::Absent;
        case EBUSY: return PortUse::Held;
        case EACCES: case EPERM: return PortUse::NoPermission;
        default: return PortUse::Unknown;
        }
    }
    PortUse use = PortUse::Free;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) use = errno == EWOULDBLOCK ? PortUse::Held : PortUse::Unknown;
    ::close(fd);  // also gives back the lock
    return use;
}

PortInfo DescribePort(int n, const std::string& configured, const fs::path& byIdDir, bool probe) {
    PortInfo info;
    info.number = n;
    info.name = PortDisplayName(n);
    info.configured = configured;
    info.path = ResolvePortPath(configured);
    std::error_code ec;
    info.present = !configured.empty() && fs::exists(configured, ec);
    // A configured link that is itself in the by-id folder is its own stable name.
    info.byId = ByIdName(configured, byIdDir);
    if (info.present) info.use = probe ? ProbePortUse(configured) : PortUse::Unknown;
    return info;
}

std::string PermissionMessage(const std::string& path) {
    struct stat st {};
    // The node cannot even be looked at: a folder on the way is closed, no group helps.
    if (::stat(path.c_str(), &st) != 0)
        return "no permission to open " + path + ": a folder on its path is closed to this user";
    std::string groupName = std::to_string(st.st_gid);
    std::vector<char> buffer(16384);
    struct group gr {};
    struct group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
        groupName = found->gr_name;
    return "no permission to open " + path + ": join the group " + groupName + " (sudo usermod -aG " +
           groupName + " $USER) and log in again";
}

} // namespace velq3
