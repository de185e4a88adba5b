// The setup page in a real browser: headless Chromium loads /setup and its script fills the live
// fields from the status JSON. Skipped where Chromium is not installed.
#include "alpaca/SetupPages.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ChromiumRunner.h"
#include "common/SimProcess.h"

namespace velq3::alpaca {
namespace {

// The page served over a device service connected to the simulator, with the wheel moved to
// a known slot.
TEST(SetupPageInChromium, ScriptFillsTheLiveFieldsFromTheService) {
    const std::string chromium = test::FindChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";

    test::SimProcess sim({"--mode", "6", "--memory-size", "174"});
    DeviceEnvironment env;
    const std::string tty = sim.ttyPath();
    env.portPath = [tty](int) { return tty; };
    ServiceThread owner(env);
    owner.Invoke([](OrnFilterWheel& fw) { fw.ComPort = 1; });
    DeviceService& service = owner.Service();
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(service.Connect(client, DeviceKind::FilterWheel).Ok());
    const CommandResult move = service.SelectFilter(4);
    ASSERT_TRUE(move.Ok()) << move.message;
    auto snapshot = service.Current();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((snapshot->Moving() || snapshot->currentFilter != 4) &&
           std::chrono::steady_clock::now() < deadline) {
        snapshot = service.WaitNewer(snapshot->serial, std::chrono::milliseconds(200));
    }
    ASSERT_EQ(snapshot->currentFilter, 4);

    SetupPageContext context(service);
    context.devices = {{"filterwheel", 0, "Filter wheel"}, {"focuser", 0, "Focuser"}};
    context.settings = {11111, "127.0.0.1", 32227, "COM1"};
    std::atomic<int> statusReads{0};
    httplib::Server server;
    server.set_pre_routing_handler([&statusReads](const httplib::Request& req, httplib::Response&) {
        if (req.path == "/setup/v1/status.json") ++statusReads;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    AddSetupRoutes(server, context);
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&server] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();

    const auto result =
        test::RunChromium(chromium, "http://127.0.0.1:" + std::to_string(port) + "/setup",
                          {"--dump-dom"});
    server.stop();
    thread.join();
    service.Disconnect(client);

    ASSERT_TRUE(result.finished) << "chromium did not finish";
    EXPECT_EQ(result.exitCode, 0);
    const std::string& dom = result.output;
    ASSERT_NE(dom.find("data-key=\"filterwheel/0\""), std::string::npos) << dom;
    // The page is served with placeholders; only the script puts these values in.
    const std::string filter = snapshot->filterNames.at(4);
    EXPECT_NE(dom.find("data-field=\"position\">4</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"filter\">" + filter + "</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"memorySize\">174</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"mode\">filter wheel, 6 positions</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("id=\"live\" class=\"ok\""), std::string::npos) << dom;
    // Refreshed every second: the 3 s of virtual time see several reads.
    EXPECT_GE(statusReads.load(), 2);
}

}  // namespace
}  // namespace velq3::alpaca
