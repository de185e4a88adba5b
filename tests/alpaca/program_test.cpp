// The Alpaca face in the velq3 program: its start line, the options, a taken port, the settings
// it reads and stores, and the busy rule of commands during a long move.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/AnnouncedPort.h"
#include "alpaca/AlpacaClient.h"
#include "alpaca/AlpacaFace.h"
#include "alpaca/AlpacaSimFixture.h"
#include "alpaca/HttpClient.h"
#ifdef VELQ3_APPS_DIR
#include "e2e/E2eFixture.h"
#endif

namespace velq3::test {
namespace {

#ifdef VELQ3_APPS_DIR
class AlpacaProgramTest : public E2eTest {
protected:
    // Starts velq3 --service with `args` and waits for `line` on its output or error.
    std::unique_ptr<Process> StartVelq3(std::vector<std::string> args, const std::string& wait) {
        args.insert(args.begin(), "--service");
        const int n = ++started;
        outFile = home.file("out" + std::to_string(n));
        errFile = home.file("err" + std::to_string(n));
        auto p = Start(Program("velq3"), args, {.pipeInput = false, .outputFile = outFile, .errorFile = errFile});
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline && (Text(outFile) + Text(errFile)).find(wait) == std::string::npos)
            std::this_thread::sleep_for(20ms);
        return p;
    }
    static std::string Text(const std::string& file) { return FileText(file); }
    std::uint16_t AnnouncedPort() const { return AnnouncedAlpacaPort(outFile); }
    static void End(Process& p) {
        p.Signal(SIGTERM);
        const auto status = p.WaitExit(10s);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 0);
    }

    int started = 0;
    std::string outFile, errFile;
};

TEST_F(AlpacaProgramTest, FreePortIsAnnouncedAndServedAndIdsAreStoredOnce) {
    StartController({"--mode", "4"});
    auto service = StartVelq3({"--alpaca-port", "0"}, "Alpaca on");
    const std::uint16_t port = AnnouncedPort();
    ASSERT_NE(port, 0) << Text(outFile) << Text(errFile);
    std::string ids;
    {
        AlpacaClient client(port);
        EXPECT_EQ(client.Get("/management/apiversions").Value(), Json::array({1}));
        const Reply devices = client.Get("/management/v1/configureddevices");
        ASSERT_EQ(devices.Value().size(), 7u);
        ids = devices.Value().dump();
        ASSERT_EQ(client.Put("/api/v1/filterwheel/0/connected", "Connected=true").Error(), 0);
        ASSERT_EQ(client.Put("/api/v1/filterwheel/0/position", "Position=2").Error(), 0);
    }
    End(*service);
    RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
    user.Load();
    const auto stored = user.GetString(kSettingsKey, "AlpacaUniqueID filterwheel/0");
    ASSERT_TRUE(stored);
    EXPECT_NE(ids.find(*stored), std::string::npos);

    // The same UniqueIDs on the next start.
    service = StartVelq3({"--alpaca-port", "0"}, "Alpaca on");
    {
        AlpacaClient client(AnnouncedPort());
        EXPECT_EQ(client.Get("/management/v1/configureddevices").Value().dump(), ids);
    }
    End(*service);
}

TEST_F(AlpacaProgramTest, TakenPortIsOneLineAndEverythingElseKeepsWorking) {
    StartController({"--mode", "4"});
    // Another listener on a port, then velq3 asked for it through the settings.
    alpaca::AlpacaServer other{alpaca::ServerDescription{}};
    std::string error;
    ASSERT_TRUE(other.Start("127.0.0.1", 0, error)) << error;
    {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetDword(kSettingsKey, alpaca::kAlpacaPortValue, other.Port());
        ASSERT_TRUE(user.Save());
    }
    Register();
    auto service = StartVelq3({}, "serving without a window");
    const std::string err = Text(errFile);
    EXPECT_EQ(CountLines(err, "Alpaca"), 1) << err;
    EXPECT_NE(err.find(std::to_string(other.Port())), std::string::npos) << err;
    EXPECT_EQ(Text(outFile).find("Alpaca on"), std::string::npos);
    // The automation face still serves.
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.FilterWheel", "Connected=true", "Position=1", "Position"});
    EXPECT_EQ(r.status, 0) << r.output << r.error;
    End(*service);
}

// A stored bind address this machine does not have: the server serves this computer at the
// stored port instead and says why on standard error and on the setup page.
TEST_F(AlpacaProgramTest, AStoredAddressThatCannotBeBoundFallsBackToLoopback) {
    {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetString(kSettingsKey, alpaca::kAlpacaBindValue, "192.0.2.222");
        user.SetDword(kSettingsKey, alpaca::kAlpacaPortValue, 0);
        ASSERT_TRUE(user.Save());
    }
    auto service = StartVelq3({}, "Alpaca on");
    const std::string err = Text(errFile);
    EXPECT_NE(err.find("192.0.2.222"), std::string::npos) << err;
    EXPECT_NE(err.find("serving on 127.0.0.1"), std::string::npos) << err;
    EXPECT_NE(Text(outFile).find("Alpaca on 127.0.0.1:"), std::string::npos) << Text(outFile);
    const std::uint16_t port = AnnouncedPort();
    ASSERT_NE(port, 0) << Text(outFile) << err;
    {
        AlpacaClient client(port);
        EXPECT_EQ(client.Get("/management/apiversions").Value(), Json::array({1}));
        test::http::Client http("127.0.0.1", port, 5000);
        const auto page = http.Get("/setup");
        ASSERT_TRUE(page);
        EXPECT_NE(page->body.find("192.0.2.222"), std::string::npos);
        EXPECT_NE(page->body.find("serving on 127.0.0.1 (this computer only) instead"), std::string::npos) << page->body;
    }
    End(*service);
}

TEST_F(AlpacaProgramTest, OptionsDisableOrRefuseBadValues) {
    auto service = StartVelq3({"--no-alpaca"}, "serving without a window");
    EXPECT_EQ(Text(outFile).find("Alpaca on"), std::string::npos);
    End(*service);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--alpaca-port", "65536"},
                                                std::vector<std::string>{"--alpaca-port", "x"},
                                                std::vector<std::string>{"--alpaca-port"},
                                                std::vector<std::string>{"--alpaca-bind", ""}}) {
        const RunResult r = Run(Program("velq3"), bad);
        EXPECT_EQ(r.status, 2) << bad[0];
        EXPECT_NE(r.error.find("alpaca"), std::string::npos) << r.error;
    }
}

TEST_F(AlpacaProgramTest, RegistrationRunsServeNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/regserver", "--alpaca-port", "0"},
          std::vector<std::string>{"--service", "/regserver", "--alpaca-port", "0"},
          std::vector<std::string>{"/unregserver", "--alpaca-port", "0"},
          std::vector<std::string>{"--service", "/unregserver", "--alpaca-port", "0"}}) {
        const RunResult r = Run(Program("velq3"), args);
        EXPECT_EQ(r.status, 0) << args[0] << " " << args[1] << r.error;
        EXPECT_EQ(r.output.find("Alpaca on"), std::string::npos) << args[0] << " " << args[1] << r.output;
        EXPECT_EQ(r.error.find("Alpaca"), std::string::npos) << args[0] << " " << args[1] << r.error;
        const bool registers = args[0] == "/regserver" || args[1] == "/regserver";
        EXPECT_EQ(Classes().KeyExists("VELQ3.FilterWheel"), registers) << args[0] << " " << args[1];
    }
}

#endif  // VELQ3_APPS_DIR

TEST(AlpacaSettings, DefaultsStoredValuesAndOptions) {
    TempDir dir;
    RegistryHive hive(dir.file("user.reg"), kCurrentUserRoot);
    alpaca::AlpacaSettings s = alpaca::ReadAlpacaSettings(hive);
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.port, 11111);
    EXPECT_EQ(s.bind, "127.0.0.1");
    EXPECT_EQ(s.discoveryPort, 32227);
    hive.SetDword(kSettingsKey, "AlpacaEnabled", 0);
    hive.SetDword(kSettingsKey, "AlpacaPort", 8080);
    hive.SetString(kSettingsKey, "AlpacaBind", "0.0.0.0");
    hive.SetDword(kSettingsKey, "DiscoveryPort", 70000);  // out of range: the default stays
    s = alpaca::ReadAlpacaSettings(hive);
    EXPECT_FALSE(s.enabled);
    EXPECT_EQ(s.port, 8080);
    EXPECT_EQ(s.bind, "0.0.0.0");
    EXPECT_EQ(s.discoveryPort, 32227);

    const std::vector<std::string> args = {"velq3", "--alpaca-port", "0", "--alpaca-bind", "::1", "--no-alpaca", "--other"};
    alpaca::AlpacaOptions options;
    std::string error;
    std::size_t i = 1;
    EXPECT_TRUE(alpaca::ParseAlpacaOption(args, i, options, error));
    EXPECT_EQ(i, 2u);
    EXPECT_EQ(options.port, 0);
    i = 3;
    EXPECT_TRUE(alpaca::ParseAlpacaOption(args, i, options, error));
    EXPECT_EQ(options.bind, "::1");
    i = 5;
    EXPECT_TRUE(alpaca::ParseAlpacaOption(args, i, options, error));
    EXPECT_TRUE(options.disabled);
    i = 6;
    EXPECT_FALSE(alpaca::ParseAlpacaOption(args, i, options, error));
    EXPECT_TRUE(error.empty());

    const std::string a = alpaca::NewGuid(), b = alpaca::NewGuid();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '4');
}

TEST(AlpacaSettings, LoopbackAddresses) {
    const struct {
        const char* address;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", true}, {"127.0.0.2", true},  {"127.255.255.255", true}, {"::1", true},
        {"localhost", true}, {"0.0.0.0", false},   {"::", false},             {"192.0.2.2", false},
        {"128.0.0.1", false}, {"", false},         {"127.0.0.1x", false},     {"::ffff:127.0.0.1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(alpaca::IsLoopbackAddress(c.address), c.loopback) << c.address;
}

// Sends one probe to `address`:`port` from a fresh socket; the reply within half a second.
std::string ProbeReply(const std::string& address, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "no socket";
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ::sendto(fd, alpaca::kDiscoveryProbe.data(), alpaca::kDiscoveryProbe.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    pollfd p{fd, POLLIN, 0};
    std::string reply;
    if (::poll(&p, 1, 500) == 1) {
        char buffer[128];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) reply.assign(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

TEST_F(AlpacaSimTest, ALoopbackServerIsDiscoveredOnLoopbackOnly) {
    StartFace();
    const alpaca::DiscoveryResponder* discovery = face->Discovery();
    ASSERT_NE(discovery, nullptr);
    EXPECT_TRUE(discovery->LoopbackOnly());
    const std::string expected = "{\"AlpacaPort\":" + std::to_string(face->Port()) + "}";
    EXPECT_EQ(ProbeReply("127.0.0.1", discovery->BoundPort()), expected);

    // Another address of this machine reaches the socket but gets no answer.
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    std::vector<std::string> others;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const in_addr a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
        char text[INET_ADDRSTRLEN];
        if ((ntohl(a.s_addr) >> 24) != 127 && ::inet_ntop(AF_INET, &a, text, sizeof text)) others.push_back(text);
    }
    ::freeifaddrs(list);
    if (others.empty()) GTEST_SKIP() << "this host has no non-loopback IPv4 address";
    for (const std::string& other : others) EXPECT_EQ(ProbeReply(other, discovery->BoundPort()), "") << other;
}

// At 9600 baud: a focuser move sent while the wheel turns is accepted at once, reads as moving
// and runs once the wheel has arrived; a command other than a move that cannot start within a
// second is refused and never runs.
TEST_F(AlpacaSimTest, AMoveDuringAnotherDevicesMoveRunsAfterItAndOtherCommandsAreRefused) {
    hive.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", 20000);
    Start({"--realtime"});
    Connect("filterwheel/0");
    Connect("focuser/0");
    WaitFor("filterwheel/0", "position", [](const Json& v) { return v.get<int>() >= 0; }, 30s);
    const int from = Get("filterwheel/0", "position").Value();
    const int focus = Get("focuser/0", "position").Value();
    sim->control("set move-ms 2500");
    const int slot = (from + 1) % 3;
    ASSERT_EQ(Put("filterwheel/0", "position", "Position=" + std::to_string(slot)).Error(), 0);
    const auto start = std::chrono::steady_clock::now();
    const Reply accepted = Put("focuser/0", "move", "Position=" + std::to_string(focus + 100));
    EXPECT_EQ(accepted.Error(), 0) << accepted.body;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(Get("focuser/0", "ismoving").Value(), true);
    // The owner thread is in the wheel move: an ordinary command waits one second and is refused.
    const auto t0 = std::chrono::steady_clock::now();
    const CommandResult refused = service->Service().Run([](OrnFilterWheel& fw) {
        fw.SetFocusPosition(0, 0);  // would move the counter: must never run
        return CommandResult::Success();
    });
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(refused.status, CommandStatus::Busy);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2500ms);
    WaitFor("filterwheel/0", "position", [&](const Json& v) { return v == slot; }, 30s);
    EXPECT_EQ(WaitFor("focuser/0", "ismoving", [](const Json& v) { return v == false; }, 30s).Value(), false);
    EXPECT_EQ(Get("focuser/0", "position").Value(), focus + 100);
    EXPECT_EQ(Get("filterwheel/0", "position").Value(), slot);
}

} // namespace
} // namespace velq3::test
