#include "indi/SerialPortChoice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace velq3::indi {

std::string DefaultSerialPort() {
    std::error_code ec;
    std::vector<std::string> byId;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/serial/by-id", ec)) byId.push_back(entry.path());
    if (!byId.empty()) return *std::min_element(byId.begin(), byId.end());
    for (const char* base : {"/dev/ttyUSB", "/dev/ttyACM"}) {
        for (int i = 0; i < (base[8] == 'U' ? 8 : 4); ++i) {
            const std::string path = base + std::to_string(i);
            if (std::filesystem::exists(path, ec)) return path;
        }
    }
    return "/dev/ttyUSB0";
}

std::vector<std::string> PresentSerialPorts() {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> byId, targets, ttys;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        byId.push_back(entry.path());
        targets.push_back(fs::canonical(entry.path(), ec).string());
    }
    std::sort(byId.begin(), byId.end());
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename();
        if (name.rfind("ttyUSB", 0) != 0 && name.rfind("ttyACM", 0) != 0) continue;
        if (std::find(targets.begin(), targets.end(), entry.path().string()) == targets.end()) ttys.push_back(entry.path());
    }
    std::sort(ttys.begin(), ttys.end());
    byId.insert(byId.end(), ttys.begin(), ttys.end());
    return byId;
}

std::optional<std::string> DescribePortProblem(const std::string& path) {
    if (path.empty()) return "No serial port is set (DEVICE_PORT)";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT) return "The serial port " + path + " does not exist";
        if (e == EACCES) return "No permission to open the serial port " + path + " (is this user in the dialout group?)";
        if (e == EBUSY) return "The serial port " + path + " is in use by another program";
        return "The serial port " + path + " cannot be opened: " + std::strerror(e);
    }
    std::optional<std::string> problem;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        problem = path + " is not a serial port";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem = "The serial port " + path + " is in use by another program";
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return problem;
}

} // namespace velq3::indi
