// A device object on the simulated controller (on COM3), user settings in a temporary hive and
// a manual main loop whose virtual time drives the poll; the device's log lines are kept. The
// base of the window fixtures of the Qt tests and of the layer cases.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/TestSimulator.h"
#include "device/OrnFilterWheel.h"

namespace velq3::test {

inline constexpr int kSimPort = 3;

template <class Base>
class SimWheelFixture : public Base {
protected:
    // A fast simulator: short moves, focusers far faster than their configured speed.
    void StartSim(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--move-ms", "2", "--focus-speedup", "2000"});
        sim = std::make_unique<SimProcess>(std::move(args));
    }

    // The device object alone, on the simulator's port (every other port is a missing device).
    void MakeDeviceObject() {
        DeviceEnvironment env;
        env.userHive = &hive;
        env.loop = &loop;
        env.portPath = [this](int n) {
            if (sim && n == kSimPort) return sim->ttyPath();
            return dir.file("no-such-tty" + std::to_string(n));
        };
        device = std::make_unique<OrnFilterWheel>(env);
        device->SetSink([this](std::string_view l) { logLines.emplace_back(l.substr(l.find(" : ") + 3)); });
    }

    // One byte of the controller's own memory, read over the link.
    int DeviceMemoryByte(int offset) {
        std::uint8_t b = 0;
        EXPECT_TRUE(device->ReadMemory(offset, 1, &b));
        return b;
    }

    // The device's log lines that start with `prefix`.
    int CountLog(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : logLines) n += l.rfind(prefix, 0) == 0;
        return n;
    }

    TempDir dir;
    RegistryHive hive{FixtureHiveFile(dir), FixtureHiveRoot(dir)};
    ManualMainLoop loop;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<OrnFilterWheel> device;
    std::vector<std::string> logLines;
};

}  // namespace velq3::test
