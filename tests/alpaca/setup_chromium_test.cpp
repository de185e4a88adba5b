// The setup page in a real browser: headless Chromium loads /setup and its script fills the live
// fields from the status JSON. Skipped where Chromium is not installed.
#include "alpaca/SetupPages.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ChromiumRunner.h"

namespace velq3::alpaca {
namespace {

TEST(SetupPageInChromium, ScriptFillsTheLiveFieldsFromTheStatus) {
    const std::string chromium = test::FindChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";

    SetupPageContext context;
    context.devices = {{"filterwheel", 0, "Filter wheel"}, {"focuser", 0, "Focuser"}};
    context.settings = {11111, "127.0.0.1", 32227, "COM1"};
    std::atomic<int> statusReads{0};
    context.status = [&statusReads] {
        ++statusReads;
        return nlohmann::json{
            {"controller", {{"memorySize", 174}, {"fwAll", false}, {"mode", "filter wheel"}}},
            {"devices",
             {{{"type", "filterwheel"}, {"number", 0}, {"position", 4}, {"filter", "Blue <B>"},
               {"moving", false}, {"connected", true}},
              {{"type", "focuser"}, {"number", 0}, {"position", 2718}, {"temperature", -3.25},
               {"moving", true}, {"connected", true}}}}};
    };
    httplib::Server server;
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

    ASSERT_TRUE(result.finished) << "chromium did not finish";
    EXPECT_EQ(result.exitCode, 0);
    const std::string& dom = result.output;
    ASSERT_NE(dom.find("data-key=\"filterwheel/0\""), std::string::npos) << dom;
    // The page is served with placeholders; only the script puts these values in.
    EXPECT_NE(dom.find("data-field=\"position\">4</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"filter\">Blue &lt;B&gt;</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"position\">2718</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"temperature\">-3.3 \xC2\xB0" "C</dd>"), std::string::npos)
        << dom;
    EXPECT_NE(dom.find("data-field=\"memorySize\">174</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("data-field=\"fwAll\">no</dd>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("id=\"live\" class=\"ok\""), std::string::npos) << dom;
    // Refreshed every second: the 3 s of virtual time see several reads.
    EXPECT_GE(statusReads.load(), 2);
}

}  // namespace
}  // namespace velq3::alpaca
