// The setup page in a real browser: headless Chromium loads /setup and its script fills the live
// fields from the status JSON, over an in-process service and in the velq3 program. Skipped where
// Chromium is not installed.
#include "alpaca/SetupPages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "ChromiumRunner.h"
#include "HttpClient.h"
#include "ServiceProcess.h"
#include "common/SimProcess.h"

namespace velq3::alpaca {
namespace {

// A server over `routes` as the Alpaca face runs one: 404 for what no route answers, and
// everything but GET on the handler pool.
HttpServer ServeRoutes(const HttpRoutes& routes) {
    return HttpServer(
        HttpLimits{}, [&routes](const HttpRequest& req) { return routes.Handle(req).value_or(HttpResponse::Text(404, "Not found")); },
        [](const HttpRequest& req) { return req.method != "GET"; });
}

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
    HttpRoutes routes;
    routes.Add([&statusReads](const HttpRequest& req) -> std::optional<HttpResponse> {
        if (req.path == "/setup/v1/status.json") ++statusReads;
        return std::nullopt;
    });
    AddSetupRoutes(routes, context);
    HttpServer server = ServeRoutes(routes);
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, error)) << error;
    const int port = server.Port();

    const auto result =
        test::RunChromium(chromium, "http://127.0.0.1:" + std::to_string(port) + "/setup",
                          {"--dump-dom"});
    server.Stop();
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

// A page on another origin (a second loopback address) posts the settings form to the server,
// by a form submit and by fetch, even with the right token: nothing is stored. The same post
// from a page of the server's own origin is stored, so the browser does deliver such posts.
TEST(SetupPageInChromium, APageOfAnotherOriginCannotStoreSettings) {
    const std::string chromium = test::FindChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";

    ServiceThread owner{DeviceEnvironment{}};
    SetupPageContext context(owner.Service());
    context.devices = {{"filterwheel", 0, "Filter wheel"}};
    context.settings = {11111, "127.0.0.1", 32227, "COM1"};
    std::mutex mutex;
    std::vector<SetupSettings> stored;
    std::atomic<int> posts{0};
    context.store = [&](const SetupSettings& s, std::string&) {
        std::lock_guard lock(mutex);
        stored.push_back(s);
        return true;
    };
    const std::string form = "AlpacaPort=22&AlpacaBind=0.0.0.0&DiscoveryPort=32227&SerialPort=COM2&Token=" + context.token;
    HttpRoutes routes;
    routes.Add([&](const HttpRequest& req) -> std::optional<HttpResponse> {
        if (req.path == "/setup" && req.method == "POST") ++posts;
        // The server's own page for the control case: the same post from this origin.
        if (req.path == "/own-page") {
            HttpResponse page = HttpResponse::Text(200, "");
            page.contentType = "text/html";
            page.body = "<!doctype html><p id=r>sent</p><script>fetch('/setup',{method:'POST',headers:"
                        "{'Content-Type':'application/x-www-form-urlencoded'},body:'" +
                        std::string(form).replace(form.find("=22&"), 4, "=1234&") +
                        "'}).then(r=>{document.getElementById('r').textContent='status '+r.status;});</script>";
            return page;
        }
        return std::nullopt;
    });
    AddSetupRoutes(routes, context);
    HttpServer server = ServeRoutes(routes);
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, error)) << error;
    const std::string target = "http://127.0.0.1:" + std::to_string(server.Port()) + "/setup";

    const auto fields = ParseFormText(form).value();
    // The other site: a page on 127.0.0.2 that posts to the setup form as soon as it loads.
    HttpServer other(
        HttpLimits{},
        [&](const HttpRequest&) {
            HttpResponse page = HttpResponse::Text(200, "");
            page.contentType = "text/html";
            page.body = "<!doctype html><form id=f method=post action='" + target + "'>";
            for (const auto& [name, value] : fields)
                page.body += "<input type=hidden name='" + name + "' value='" + value + "'>";
            page.body += "</form><script>fetch('" + target +
                         "',{method:'POST',mode:'no-cors',headers:{'Content-Type':"
                         "'application/x-www-form-urlencoded'},body:'" + form +
                         "'}).finally(()=>document.getElementById('f').submit());</script>";
            return page;
        });
    if (!other.Start("127.0.0.2", 0, error)) GTEST_SKIP() << "no second loopback address: " << error;

    auto result = test::RunChromium(
        chromium, "http://127.0.0.2:" + std::to_string(other.Port()) + "/", {"--dump-dom"});
    ASSERT_TRUE(result.finished) << "chromium did not finish";
    EXPECT_GE(posts.load(), 2) << "the other page's posts did not reach the server";
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(stored.empty());
    }

    // Control: the server's own origin, same form with the token, is stored.
    result = test::RunChromium(chromium, "http://127.0.0.1:" + std::to_string(server.Port()) + "/own-page",
                               {"--dump-dom"});
    ASSERT_TRUE(result.finished) << "chromium did not finish";
    EXPECT_NE(result.output.find("status 200"), std::string::npos) << result.output;
    other.Stop();
    server.Stop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].alpacaPort, 1234);
}

#ifdef VELQ3_APPS_DIR
// The whole program: velq3 --service --simulate, the wheel connected and turned over the Alpaca
// API, then /setup in Chromium shows the position the wheel stopped at.
TEST(SetupPageInChromium, ServiceShowsTheLiveFilterPosition) {
    const std::string chromium = test::FindChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";

    test::TempDir home;
    test::ServiceProcess velq3(VELQ3_APPS_DIR "/velq3", {"--service", "--simulate", "--alpaca-port", "0"},
                               home.path());
    ASSERT_TRUE(velq3.Started());
    const int port = velq3.WaitForAlpacaPort();
    ASSERT_GT(port, 0) << velq3.Output();

    test::http::Client client("127.0.0.1", port, 10000);
    auto reply = client.Put("/api/v1/filterwheel/0/connected", test::http::Params{{"Connected", "true"}});
    ASSERT_TRUE(reply);
    ASSERT_EQ(nlohmann::json::parse(reply->body).value("ErrorNumber", -1), 0) << reply->body;
    reply = client.Put("/api/v1/filterwheel/0/position", test::http::Params{{"Position", "3"}});
    ASSERT_TRUE(reply);
    ASSERT_EQ(nlohmann::json::parse(reply->body).value("ErrorNumber", -1), 0) << reply->body;
    int position = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (position != 3 && std::chrono::steady_clock::now() < deadline) {
        reply = client.Get("/api/v1/filterwheel/0/position");
        ASSERT_TRUE(reply);
        position = nlohmann::json::parse(reply->body).value("Value", -1);
        if (position != 3) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(position, 3);

    const auto result =
        test::RunChromium(chromium, "http://127.0.0.1:" + std::to_string(port) + "/setup", {"--dump-dom"});
    ASSERT_TRUE(result.finished) << "chromium did not finish";
    EXPECT_EQ(result.exitCode, 0);
    const std::string& dom = result.output;
    const auto card = dom.find("data-key=\"filterwheel/0\"");
    ASSERT_NE(card, std::string::npos) << dom;
    const std::string wheel = dom.substr(card, dom.find("data-key=", card + 1) - card);
    EXPECT_NE(wheel.find("data-field=\"position\">3</dd>"), std::string::npos) << wheel;
    EXPECT_NE(wheel.find("data-field=\"connected\">yes</dd>"), std::string::npos) << wheel;
    EXPECT_NE(dom.find("id=\"live\" class=\"ok\""), std::string::npos);
    EXPECT_EQ(velq3.Stop(), 0) << velq3.Output();
}
#endif  // VELQ3_APPS_DIR

}  // namespace
}  // namespace velq3::alpaca
