// velq3 --service as a telescope computer runs it: no window, no display, automation clients
// served, the idle rule of client-started processes not applied, readings refreshed by the
// headless poll, the end on SIGTERM or SIGINT with the settings saved; --port and --simulate.
#include "e2e/E2eFixture.h"

namespace velq3::test {
namespace {

class ServiceE2eTest : public E2eTest {
protected:
    // Starts velq3 --service with `args` and waits for its ready line and its socket.
    std::unique_ptr<Process> StartService(std::vector<std::string> args) {
        args.insert(args.begin(), "--service");
        errorFile = home.file("service.err");
        auto p = Start(Program("velq3"), args, {.pipeInput = false, .outputFile = home.file("service.out"), .errorFile = errorFile});
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline && !(ErrorText().find("serving without a window") != std::string::npos && SocketExists()))
            std::this_thread::sleep_for(20ms);
        EXPECT_NE(ErrorText().find("serving without a window"), std::string::npos) << ErrorText();
        return p;
    }
    std::string ErrorText() const {
        std::ifstream in(errorFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    RegistryHive UserHive() const {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        return user;
    }

    std::string errorFile;
};

TEST_F(ServiceE2eTest, ServesClientsPastTheIdleRuleRefreshesReadingsAndEndsOnSigterm) {
    Register();
    StartController({"--mode", "4", "--sensors", "2"});
    {
        // A value the program owns, removed: the save at exit writes it again.
        RegistryHive user = UserHive();
        user.DeleteValue(kSettingsKey, "AscomFocusShift");
        ASSERT_TRUE(user.Save());
    }
    auto service = StartService({});
    const pid_t pid = service->Pid();
    EXPECT_EQ(ServerPid(), pid);

    RunResult r = Run(Program("velq3-ctl"), {"VELQ3.FilterWheel", "Connected=true", "Position=2", "Position"});
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.Lines().back(), "Position = 2");

    // No client for longer than the idle time: the service stays.
    std::this_thread::sleep_for(6500ms);
    ASSERT_TRUE(service->WaitExit(0ms) == std::nullopt) << "the service ended by itself";

    // The released wheel still holds the link; the headless poll brings new readings.
    sim->control("set temp 0 2345");
    std::this_thread::sleep_for(2500ms);
    r = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "Temperature"});
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.Lines().back().rfind("Temperature = 23.45", 0), 0u) << r.Lines().back();

    service->Signal(SIGTERM);
    const auto status = service->WaitExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    RegistryHive user = UserHive();
    EXPECT_EQ(user.GetDword(kSettingsKey, "AscomFocusShift"), 10000u);  // written at exit
    EXPECT_EQ(user.GetDword(kSettingsKey, "ComPort"), 1u);
    EXPECT_FALSE(SocketExists());
}

TEST_F(ServiceE2eTest, PortForTheRunIsNotStoredAndSigintEndsTheService) {
    Register();
    // Each run gets a controller of its own (a pseudo-terminal may stay exclusive after its close).
    for (int run = 0; run < 2; ++run) {
        StartController({"--mode", "4"});
        RegistryHive user = UserHive();
        user.SetDword(kSettingsKey, "ComPort", 7);
        user.SetString(kSettingsKey, "SerialDevice2", sim->ttyPath());
        ASSERT_TRUE(user.Save());
        const std::string port = run == 0 ? std::string("com2") : sim->ttyPath();
        SCOPED_TRACE(port);
        auto service = StartService({"--port", port});
        const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.FilterWheel", "Connected=true", "Position", "Connected=false"});
        EXPECT_EQ(r.status, 0) << r.output << r.error;
        service->Signal(SIGINT);
        EXPECT_EQ(service->WaitExit(10s), std::optional<int>(0));
        EXPECT_EQ(UserHive().GetDword(kSettingsKey, "ComPort"), 7u);
    }
    const RunResult bad = Run(Program("velq3"), {"--service", "--port", "COM99"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.error.find("COM1..COM16"), std::string::npos) << bad.error;
}

TEST_F(ServiceE2eTest, RunsTheSimulatorWithoutADisplay) {
    Register();
    auto service = StartService({"--simulate"});
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.FilterWheel", "Connected=true", "Position=1", "Position"});
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.Lines().back(), "Position = 1");
    EXPECT_EQ(ErrorText().find("offscreen"), std::string::npos);  // no Qt platform at all
    service->Signal(SIGTERM);
    EXPECT_EQ(service->WaitExit(10s), std::optional<int>(0));
}

} // namespace
} // namespace velq3::test

namespace velq3::test {
namespace {

// A server that an activation started has no window: the service polls, so a client's readings
// follow the controller.
TEST_F(ServiceE2eTest, AClientStartedServerRefreshesReadingsWithoutAWindow) {
    Register();
    StartController({"--mode", "4", "--sensors", "2"});
    Process::Options input;
    input.pipeInput = true;
    auto client = Start(Program("velq3-ctl"), {"VELQ3.Focuser", "-"}, input);
    client->Write("Link=true\nTemperature\n");
    EXPECT_EQ(client->ReadLine(), "Link = true");
    const std::string first = client->ReadLine();
    EXPECT_EQ(first.rfind("Temperature = ", 0), 0u) << first;
    sim->control("set temp 0 -1250");
    std::this_thread::sleep_for(2500ms);
    client->Write("Temperature\n");
    const std::string second = client->ReadLine();
    EXPECT_EQ(second.rfind("Temperature = -12.5", 0), 0u) << second;
    client->CloseInput();
    EXPECT_EQ(client->WaitExit(10s), std::optional<int>(0));
}

} // namespace
} // namespace velq3::test
