// The Alpaca face over a device service whose owner thread drives a simulated controller, served
// on a free loopback port, with the settings hive in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "alpaca/AlpacaClient.h"
#include "alpaca/AlpacaFace.h"
#include "common/SimProcess.h"
#include "device/OrnFilterWheel.h"
#include "service/DeviceService.h"

namespace velq3::test {

using namespace std::chrono_literals;

class AlpacaSimTest : public ::testing::Test {
protected:
    void TearDown() override { StopFace(); }

    // Starts the simulator (with `args`) on COM3 and the face over it.
    void Start(std::vector<std::string> args = {}) {
        sim = std::make_unique<SimProcess>(std::move(args));
        hive.SetDword(kSettingsKey, "ComPort", 3);
        StartFace();
    }

    void StartFace() {
        DeviceEnvironment env;
        env.userHive = &hive;
        env.portPath = [this](int n) { return n == 3 && sim ? sim->ttyPath() : dir.file("no-tty-" + std::to_string(n)); };
        service = std::make_unique<ServiceThread>(env);
        alpaca::AlpacaOptions options;
        options.port = 0;
        options.bind = "127.0.0.1";
        options.discoveryPort = 0;
        service->Invoke([&](OrnFilterWheel&) {
            face = std::make_unique<alpaca::AlpacaFace>(service->Service(), hive, service->Loop(), options);
            face->Start();
        });
        ASSERT_TRUE(face->Running());
        client = std::make_unique<AlpacaClient>(face->Port());
    }

    // Ends the face and the service (the device saves its settings); the hive stays.
    void StopFace() {
        client.reset();
        if (service) service->Invoke([&](OrnFilterWheel&) { face.reset(); });
        service.reset();
    }

    std::string Path(const std::string& device, const std::string& member) { return "/api/v1/" + device + "/" + member; }
    Reply Get(const std::string& device, const std::string& member, const std::string& query = "") {
        return client->Get(Path(device, member), query);
    }
    Reply Put(const std::string& device, const std::string& member, const std::string& form = "") {
        return client->Put(Path(device, member), form);
    }
    void Connect(const std::string& device) {
        const Reply r = Put(device, "connected", "Connected=true");
        ASSERT_EQ(r.status, 200);
        ASSERT_EQ(r.Error(), 0) << r.body;
    }

    // Polls `member` until `done` holds for its Value or `timeout` passes; the last reply.
    Reply WaitFor(const std::string& device, const std::string& member, const std::function<bool(const Json&)>& done,
                  std::chrono::milliseconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Reply r;
        for (;;) {
            r = Get(device, member);
            if (r.Error() == 0 && done(r.Value())) return r;
            if (std::chrono::steady_clock::now() > deadline) return r;
            std::this_thread::sleep_for(20ms);
        }
    }

    TempDir dir;
    RegistryHive hive{dir.file("user.reg"), kCurrentUserRoot};
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ServiceThread> service;
    std::unique_ptr<alpaca::AlpacaFace> face;
    std::unique_ptr<AlpacaClient> client;
};

} // namespace velq3::test
