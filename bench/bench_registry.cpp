// Registry benchmark: loading and saving a hive file of 80 000 values, all under one key (the
// worst case for a value lookup) and spread over 80 000 keys.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/Registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Loads and saves `text` as a hive; returns 0 when loading takes at most `targetMs`.
int Measure(const char* what, const std::string& text, double targetMs) {
    char pattern[] = "/tmp/velq3-bench-registry-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::filesystem::path file = std::filesystem::path(pattern) / "user.reg";
    std::ofstream(file, std::ios::binary) << text;
    velq3::RegistryHive hive(file, velq3::kCurrentUserRoot);
    auto start = Clock::now();
    const auto result = hive.Load();
    const double loadMs = Ms(Clock::now() - start);
    start = Clock::now();
    const bool saved = hive.Save();
    const double saveMs = Ms(Clock::now() - start);
    std::filesystem::remove_all(pattern);
    if (result != velq3::RegistryHive::LoadResult::Loaded || !saved) {
        std::fprintf(stderr, "%s: the file did not load or save\n", what);
        return 1;
    }
    std::printf("%s (%zu bytes): load %.1f ms, save %.1f ms; target load at most %.0f ms: %s\n", what, text.size(),
                loadMs, saveMs, targetMs, loadMs <= targetMs ? "met" : "MISSED");
    return loadMs <= targetMs ? 0 : 1;
}

}  // namespace

int main() {
    constexpr int kValues = 80000;
    std::string oneKey = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Many]\n";
    for (int i = 0; i < kValues; ++i) oneKey += "\"Value" + std::to_string(i) + "\"=dword:00000001\n";
    std::string manyKeys = "Windows Registry Editor Version 5.00\n\n";
    for (int i = 0; i < kValues; ++i) {
        manyKeys += "[HKEY_CURRENT_USER\\Software\\Many\\Key" + std::to_string(i) + "]\n\"Value\"=dword:00000001\n\n";
    }
    int rc = Measure("80000 values under one key", oneKey, 500);
    rc |= Measure("80000 keys of one value", manyKeys, 500);
    return rc;
}
