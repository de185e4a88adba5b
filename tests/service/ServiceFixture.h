// The device service over a simulated controller: on a thread of its own (as a face sees it)
// or on the test's thread with a manual loop (for step-by-step checks).
#pragma once

#include <chrono>
#include <thread>

#include "common/SimProcess.h"
#include "service/DeviceService.h"

namespace velq3::test {

using namespace std::chrono_literals;

class ServiceTest : public ::testing::Test {
protected:
    // A simulator started with `args` (fast mode) on port 3.
    void StartSim(std::vector<std::string> args) { sim = std::make_unique<SimProcess>(std::move(args)); }

    DeviceEnvironment Env() {
        DeviceEnvironment env;
        env.portPath = [this](int n) { return sim && n == 3 ? sim->ttyPath() : dir.file("no-tty" + std::to_string(n)); };
        return env;
    }

    // The service on its own owner thread, its device set to port 3.
    void StartThread(ServiceOptions options = {}) {
        owner = std::make_unique<ServiceThread>(Env(), options);
        owner->Invoke([](OrnFilterWheel& fw) {
            fw.ComPort = 3;
            fw.SetSink([](std::string_view) {});  // the command log stays out of the test output
        });
    }
    DeviceService& Service() { return owner->Service(); }

    // Waits up to `timeout` for a snapshot that satisfies `pred`; returns the last one seen.
    template <class Pred>
    std::shared_ptr<const Snapshot> WaitFor(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto s = Service().Current();
        while (!pred(*s) && std::chrono::steady_clock::now() < deadline)
            s = Service().WaitNewer(s->serial, 100ms);
        return s;
    }

    static double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ServiceThread> owner;
};

} // namespace velq3::test
