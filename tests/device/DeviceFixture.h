// A device object wired to a simulated controller, a registry hive in a temporary folder and
// a manual main loop.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "common/SimProcess.h"
#include "device/OrnFilterWheel.h"

namespace velq3::test {

class DeviceTest : public ::testing::Test {
protected:
    // Starts a simulator and maps it to port `port`; every other port is a missing device.
    void StartSim(std::vector<std::string> args = {}, int port = 3) {
        sim = std::make_unique<SimProcess>(std::move(args));
        simPort = port;
    }

    std::unique_ptr<OrnFilterWheel> MakeDevice() {
        DeviceEnvironment env;
        env.userHive = &hive;
        env.loop = &loop;
        env.portPath = [this](int n) {
            triedPorts.push_back(n);
            if (sim && n == simPort) return sim->ttyPath();
            return dir.file("no-such-tty" + std::to_string(n));
        };
        auto fw = std::make_unique<OrnFilterWheel>(env);
        fw->SetSink([this](std::string_view l) { logLines.emplace_back(l.substr(l.find(" : ") + 3)); });
        return fw;
    }

    int CountLines(const std::string& text) const {
        int n = 0;
        for (const auto& l : logLines) n += l == text;
        return n;
    }

    TempDir dir;
    RegistryHive hive{dir.file("user.reg"), kCurrentUserRoot};
    ManualMainLoop loop;
    std::unique_ptr<SimProcess> sim;
    int simPort = 3;
    std::vector<int> triedPorts;
    std::vector<std::string> logLines;
};

} // namespace velq3::test
