// A folder of the fuzz process's own for the targets that read files: on /dev/shm when it is
// there, so that the files never touch a disk.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <string>

namespace velq3::fuzz {

// libFuzzer ends its process without running destructors, so each start also removes the
// folders of fuzz processes that are gone.
inline void RemoveDeadScratchDirs(const std::filesystem::path& base) {
    const std::string prefix = "velq3-fuzz-";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (::kill(pid, 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
    }
}

inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        RemoveDeadScratchDirs(base);
        std::filesystem::path d = base / ("velq3-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

// Removes the folder when the process ends normally.
struct ScratchCleanup {
    ~ScratchCleanup() {
        std::error_code ec;
        std::filesystem::remove_all(ScratchDir(), ec);
    }
};

inline void WriteFile(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Empties the folder (damaged files kept aside, saved copies).
inline void ClearScratch() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec)) std::filesystem::remove_all(entry.path(), ec);
}

} // namespace velq3::fuzz
