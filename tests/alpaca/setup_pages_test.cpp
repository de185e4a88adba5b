// Tests of the setup pages against a server on a free loopback port: the pages and their
// escaping, the status JSON, the settings form (refused values store nothing), and who may use
// the form (Host, Origin, token).
#include "alpaca/SetupPages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "HttpClient.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace velq3::alpaca {
namespace {

using nlohmann::json;

class SetupPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_.devices = {{"filterwheel", 0, "Filter wheel"},
                            {"focuser", 0, "Focuser", true},
                            {"focuser", 1, "Focuser <2nd> & \"more\""},
                            {"switch", 0, "Outputs"}};
        context_.settings = {11111, "127.0.0.1", 32227, "COM3"};
        context_.serverName = "velq3";
        context_.version = "0.1.0";
        // A machine with one other address and a few device nodes.
        context_.checks.ownAddress = [](const std::string& a) { return a == "192.0.2.7" || a == "fd00::7"; };
        context_.checks.serialLookup = FakeDevices();
        context_.store = [this](const SetupSettings& s, std::string& error) {
            std::lock_guard lock(mutex_);
            if (!storeWorks_) {
                error = "the settings file is read-only";
                return false;
            }
            stored_.push_back(s);
            return true;
        };
        context_.storeCompensationThermometer = [this](int thermometer, std::string& error) {
            std::lock_guard lock(mutex_);
            if (!storeWorks_) {
                error = "the settings file is read-only";
                return false;
            }
            thermometers_.push_back(thermometer);
            return true;
        };
        AddSetupRoutes(routes_, context_);
        server_ = std::make_unique<HttpServer>(
            HttpLimits{},
            [this](const HttpRequest& req) { return routes_.Handle(req).value_or(HttpResponse::Text(404, "Not found")); },
            [](const HttpRequest& req) { return req.method != "GET"; });
        std::string error;
        ASSERT_TRUE(server_->Start("127.0.0.1", 0, error)) << error;
        port_ = server_->Port();
    }

    void TearDown() override { server_->Stop(); }

    test::http::Client Client() { return test::http::Client("127.0.0.1", port_, 5000); }

    // Posts the form as the page does: with this run's token and this server's Origin, unless
    // the test gives its own.
    test::http::Result PostForm(test::http::Params form, test::http::Headers headers = {}) {
        return PostTo("/setup", std::move(form), std::move(headers));
    }
    test::http::Result PostTo(const std::string& path, test::http::Params form, test::http::Headers headers = {}) {
        if (form.count("Token") == 0) form.emplace("Token", context_.token);
        if (headers.count("Origin") == 0) headers.emplace("Origin", "http://127.0.0.1:" + std::to_string(port_));
        return Client().Post(path, headers, form);
    }

    std::vector<int> Thermometers() {
        std::lock_guard lock(mutex_);
        return thermometers_;
    }

    static SerialPathLookup FakeDevices() {
        // name -> (resolved path, character device)
        static const std::map<std::string, std::pair<std::string, bool>> nodes = {
            {"/dev/ttyUSB0", {"/dev/ttyUSB0", true}},
            {"/dev/ttyACM1", {"/dev/ttyACM1", true}},
            {"/dev/ttyS2", {"/dev/ttyS2", true}},
            {"/dev/ttyAMA0", {"/dev/ttyAMA0", true}},
            {"/dev/rfcomm0", {"/dev/rfcomm0", true}},
            {"/dev/ttyUSB9", {"/dev/ttyUSB9", false}},  // a file left where a device was
            {"/dev/serial/by-id/usb-wheel", {"/dev/ttyUSB0", true}},
            {"/dev/serial/by-id/pty", {"/dev/pts/3", true}},
            {"/dev/serial/by-id/mem", {"/dev/mem", true}},
            {"/dev/shm/link", {"/dev/ttyUSB0", true}},
            {"/dev/ttyUSB5", {"/dev/pts/3", true}},  // a link named like a port
            {"/dev/pts/3", {"/dev/pts/3", true}},
            {"/dev/mem", {"/dev/mem", true}},
            {"/dev/sda", {"/dev/sda", false}},
            {"/dev/watchdog", {"/dev/watchdog", true}},
            {"/dev/fd/0", {"/dev/pts/3", true}},
        };
        SerialPathLookup lookup;
        lookup.byIdDir = "/dev/serial/by-id";
        lookup.resolve = [](const std::string& path) -> std::optional<std::string> {
            const auto found = nodes.find(path);
            if (found == nodes.end()) return std::nullopt;
            return found->second.first;
        };
        lookup.isCharDevice = [](const std::string& path) {
            const auto found = nodes.find(path);
            return found != nodes.end() && found->second.second;
        };
        return lookup;
    }

    std::vector<SetupSettings> Stored() {
        std::lock_guard lock(mutex_);
        return stored_;
    }

    // A service over a device that is not connected: the pages work without a controller.
    ServiceThread service_{DeviceEnvironment{}};
    SetupPageContext context_{service_.Service()};
    HttpRoutes routes_;
    std::unique_ptr<HttpServer> server_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<SetupSettings> stored_;
    std::vector<int> thermometers_;
    bool storeWorks_ = true;
};

// A snapshot of an open wheel-mode controller with two sensors.
Snapshot OpenWheel() {
    Snapshot s;
    s.open = true;
    s.comPort = 3;
    s.openPort = 3;
    s.portPath = "/dev/pts/7";
    s.mode = 6;
    s.memorySize = 202;
    s.statusPresent = true;
    s.sensorCount = 2;
    s.status = EmptyStatus();
    s.status.FocusPos = 1200;
    s.status.Vin = 12.25f;
    s.status.Out = 40.0f;
    s.status.Temp[0] = 4.5f;
    s.status.Temp[1] = kNoTemperature;
    s.thermometerNames = {"Mirror", "", "", ""};
    s.settings.AscomFocusShift = 10000;
    s.settings.AscomPreferredTermometer = 0;
    s.currentFilter = 2;
    s.filterCount = 6;
    s.filterNames = {"L", "R", "G", "B", "Ha", "OIII"};
    return s;
}

test::http::Params GoodForm() {
    return {{"AlpacaPort", "11112"},
            {"AlpacaBind", "0.0.0.0"},
            {"DiscoveryPort", "32228"},
            {"SerialPort", "/dev/ttyUSB0"}};
}

TEST(HtmlEscapeTest, EscapesMarkupAndQuotes) {
    EXPECT_EQ(HtmlEscape("<a href=\"x\">O'Neil & co</a>"),
              "&lt;a href=&quot;x&quot;&gt;O&#39;Neil &amp; co&lt;/a&gt;");
    EXPECT_EQ(HtmlEscape("plain \xC3\xA9"), "plain \xC3\xA9");
    EXPECT_EQ(HtmlEscape(std::string_view("a\0b", 3)), "a\xEF\xBF\xBD" "b");
}

TEST_F(SetupPagesTest, PagesAreHtmlWithEveryDeviceAndEscapedNames) {
    auto client = Client();
    auto page = client.Get("/setup");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    for (const char* key : {"filterwheel/0", "focuser/0", "focuser/1", "switch/0"}) {
        EXPECT_NE(page->body.find(std::string("data-key=\"") + key + "\""), std::string::npos)
            << key;
        EXPECT_NE(page->body.find(std::string("/setup/v1/") + key + "/setup"), std::string::npos)
            << key;
    }
    EXPECT_NE(page->body.find("Focuser &lt;2nd&gt; &amp; &quot;more&quot;"), std::string::npos);
    EXPECT_EQ(page->body.find("<2nd>"), std::string::npos);
    EXPECT_NE(page->body.find("applied at the next start"), std::string::npos);
    EXPECT_NE(page->body.find("/setup/v1/status.json"), std::string::npos);
    // Offline: nothing is loaded from elsewhere.
    EXPECT_EQ(page->body.find("http://"), std::string::npos);
    EXPECT_EQ(page->body.find("https://"), std::string::npos);
    EXPECT_EQ(page->body.find("src="), std::string::npos);

    auto device = client.Get("/setup/v1/focuser/1/setup");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->status, 200);
    EXPECT_EQ(device->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    EXPECT_NE(device->body.find("data-key=\"focuser/1\""), std::string::npos);
    EXPECT_EQ(device->body.find("data-key=\"focuser/0\""), std::string::npos);
    EXPECT_NE(device->body.find("data-field=\"temperature\""), std::string::npos);

    for (const char* missing : {"/setup/v1/focuser/2/setup", "/setup/v1/camera/0/setup",
                                "/setup/v1/focuser/99999999999/setup"}) {
        auto reply = client.Get(missing);
        ASSERT_TRUE(reply) << missing;
        EXPECT_EQ(reply->status, 404) << missing;
    }
}

TEST(SetupStatusTest, BuiltFromTheSnapshot) {
    const std::vector<SetupDeviceEntry> devices = {
        {"filterwheel", 0, "Filter wheel"}, {"focuser", 0, "Focuser"}, {"switch", 0, "Outputs"}};
    Snapshot s = OpenWheel();
    json status = BuildSetupStatus(s, devices);
    const json& controller = status["controller"];
    EXPECT_EQ(controller["port"], "COM3 (/dev/pts/7)");
    EXPECT_EQ(status["devices"][0]["note"], "");
    EXPECT_EQ(controller["connected"], true);
    EXPECT_EQ(controller["mode"], "filter wheel, 6 positions");
    EXPECT_EQ(controller["memorySize"], 202);
    EXPECT_EQ(controller["fwAll"], true);
    EXPECT_DOUBLE_EQ(controller["voltage"].get<double>(), 12.25);
    EXPECT_DOUBLE_EQ(controller["power"].get<double>(), 40.0);
    EXPECT_EQ(controller["temperatures"],
              json::parse(R"([{"name":"Mirror","celsius":4.5},{"name":"Sensor 2","celsius":null}])"));

    ASSERT_EQ(status["devices"].size(), 3u);
    const json& wheel = status["devices"][0];
    EXPECT_EQ(wheel["type"], "filterwheel");
    EXPECT_EQ(wheel["number"], 0);
    EXPECT_EQ(wheel["position"], 2);
    EXPECT_EQ(wheel["filter"], "G");
    EXPECT_EQ(wheel["moving"], false);
    const json& focuser = status["devices"][1];
    EXPECT_EQ(focuser["position"], 11200);  // with the focus shift, as clients see it
    EXPECT_DOUBLE_EQ(focuser["temperature"].get<double>(), 4.5);
    EXPECT_EQ(status["devices"][2]["temperatures"], controller["temperatures"]);

    // While the wheel moves: position -1 and no filter name.
    s.move = {MoveKind::Wheel, 4, 7};
    status = BuildSetupStatus(s, devices, [](const SetupDeviceEntry& d) { return d.type == "focuser"; });
    EXPECT_EQ(status["devices"][0]["position"], -1);
    EXPECT_EQ(status["devices"][0]["moving"], true);
    EXPECT_TRUE(status["devices"][0]["filter"].is_null());
    EXPECT_EQ(status["devices"][0]["connected"], false);
    EXPECT_EQ(status["devices"][1]["connected"], true);

    // A closed link shows no readings.
    Snapshot closed;
    closed.comPort = 0;
    status = BuildSetupStatus(closed, devices);
    EXPECT_EQ(status["controller"]["connected"], false);
    EXPECT_EQ(status["controller"]["port"], "scan of COM1 to COM16");
    EXPECT_TRUE(status["controller"]["memorySize"].is_null());
    EXPECT_TRUE(status["controller"]["voltage"].is_null());
    EXPECT_TRUE(status["devices"][0]["position"].is_null());
    EXPECT_TRUE(status["devices"][1]["position"].is_null());
    EXPECT_TRUE(status["devices"][1]["temperature"].is_null());
}

TEST(SetupStatusTest, SecondMotorDevices) {
    const std::vector<SetupDeviceEntry> devices = {
        {"rotator", 0, "Rotator"}, {"dome", 0, "Cover"}, {"covercalibrator", 0, "Cover"}};
    Snapshot s = OpenWheel();
    s.mode = -1;
    s.image.MaxSteps = 3600;
    s.status.Focus2Pos = -900;  // a quarter turn below zero
    json status = BuildSetupStatus(s, devices);
    EXPECT_EQ(status["controller"]["mode"], "rotator");
    EXPECT_NEAR(status["devices"][0]["position"].get<double>(), 270.0, 1e-3);
    EXPECT_EQ(status["devices"][0]["note"], "");
    // The cover does not exist in rotator mode: no readings, and a note says why.
    EXPECT_TRUE(status["devices"][1]["shutter"].is_null());
    EXPECT_TRUE(status["devices"][2]["cover"].is_null());
    EXPECT_EQ(status["devices"][2]["note"], "Not available in the controller's present mode.");

    s.mode = -2;
    s.status.Focus2Pos = 3000;
    s.move = {MoveKind::SecondMotor, 0, 3};
    status = BuildSetupStatus(s, devices);
    EXPECT_EQ(status["devices"][1]["shutter"], "closing");
    EXPECT_EQ(status["devices"][2]["cover"], "closing");
    EXPECT_EQ(status["devices"][2]["moving"], true);
}

TEST_F(SetupPagesTest, APortPickedAtStartIsShownButNotOfferedForTheNextStart) {
    context_.settings.alpacaPort = 0;  // --alpaca-port 0
    auto page = Client().Get("/setup");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<dt>Alpaca port</dt><dd>" + std::to_string(port_) + "</dd>"), std::string::npos);
    EXPECT_NE(page->body.find("0 (a free port, picked at start: " + std::to_string(port_) + ")"), std::string::npos);
    EXPECT_NE(page->body.find("name=\"AlpacaPort\" value=\"11111\""), std::string::npos);
}

TEST_F(SetupPagesTest, StatusJsonIsServedFromTheServiceSnapshot) {
    auto reply = Client().Get("/setup/v1/status.json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type").rfind("application/json", 0), 0u);
    const auto status = json::parse(reply->body);
    EXPECT_EQ(status["controller"]["connected"], false);
    ASSERT_EQ(status["devices"].size(), 4u);
    EXPECT_EQ(status["devices"][2]["type"], "focuser");
    EXPECT_EQ(status["devices"][2]["number"], 1);
}

TEST_F(SetupPagesTest, BadFormValuesAreRefusedAndNothingIsStored) {
    struct Case {
        const char* key;
        const char* value;
        const char* message;
    };
    const Case cases[] = {
        {"AlpacaPort", "80", "Alpaca port"},       {"AlpacaPort", "65536", "Alpaca port"},
        {"AlpacaPort", "80a", "Alpaca port"},      {"AlpacaPort", "-1", "Alpaca port"},
        {"AlpacaPort", "", "Alpaca port"},         {"DiscoveryPort", "99999999999", "discovery port"},
        {"AlpacaPort", "22", "Alpaca port"},       {"AlpacaPort", "1023", "Alpaca port"},
        {"DiscoveryPort", "1", "discovery port"},  {"DiscoveryPort", "1023", "discovery port"},
        {"AlpacaBind", "1.2.3", "bind address"},   {"AlpacaBind", "localhost", "bind address"},
        {"AlpacaBind", "1.2.3.4", "bind address"}, {"AlpacaBind", "256.1.1.1", "bind address"},
        {"AlpacaBind", "224.0.0.1", "bind address"}, {"AlpacaBind", "192.0.2.8", "bind address"},
        {"AlpacaBind", "fe80::1%eth0", "bind address"}, {"AlpacaBind", "", "bind address"},
        {"SerialPort", "COM0", "serial port"},     {"SerialPort", "COM17", "serial port"},
        {"SerialPort", "ttyUSB0", "serial port"},  {"SerialPort", "/dev/", "serial port"},
        {"SerialPort", "/dev/../etc/passwd", "serial port"},
        {"SerialPort", "/dev/tty USB0", "serial port"},
        {"SerialPort", "/dev/mem", "serial port"}, {"SerialPort", "/dev/sda", "serial port"},
        {"SerialPort", "/dev/watchdog", "serial port"}, {"SerialPort", "/dev/fd/0", "serial port"},
        {"SerialPort", "/dev/shm/link", "serial port"}, {"SerialPort", "/dev/pts/3", "serial port"},
        {"SerialPort", "/dev/ttyUSB5", "serial port"},  {"SerialPort", "/dev/ttyUSB9", "serial port"},
        {"SerialPort", "/dev/ttyUSB7", "serial port"},  // absent
        {"SerialPort", "/dev/serial/by-id/pty", "serial port"},
        {"SerialPort", "/dev/serial/by-id/mem", "serial port"},
        {"SerialPort", "/dev/serial/by-id/../../mem", "serial port"},
    };
    for (const Case& c : cases) {
        auto form = GoodForm();
        form.erase(c.key);
        form.emplace(c.key, c.value);
        auto reply = PostForm(form);
        ASSERT_TRUE(reply) << c.key << "=" << c.value;
        EXPECT_EQ(reply->status, 400) << c.key << "=" << c.value;
        EXPECT_NE(reply->body.find("Not saved"), std::string::npos) << c.key << "=" << c.value;
        EXPECT_NE(reply->body.find(c.message), std::string::npos) << c.key << "=" << c.value;
    }
    // A missing field is refused as well.
    auto form = GoodForm();
    form.erase("DiscoveryPort");
    auto reply = PostForm(form);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);

    // The refused value comes back escaped in the form.
    form = GoodForm();
    form.erase("SerialPort");
    form.emplace("SerialPort", "\"><script>alert(1)</script>");
    reply = PostForm(form);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_EQ(reply->body.find("<script>alert"), std::string::npos);
    EXPECT_NE(reply->body.find("&quot;&gt;&lt;script&gt;alert(1)"), std::string::npos);

    EXPECT_TRUE(Stored().empty());
}

TEST_F(SetupPagesTest, GoodValuesAreStoredAndShownForTheNextStart) {
    auto reply = PostForm({{"AlpacaPort", " 11112 "},
                           {"AlpacaBind", "0.0.0.0"},
                           {"DiscoveryPort", "32228"},
                           {"SerialPort", "COM16"}},
                          {{"Origin", "http://127.0.0.1:" + std::to_string(port_)}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    EXPECT_EQ(reply->get_header_value("Location"), "/setup?saved=1");
    ASSERT_EQ(Stored().size(), 1u);
    EXPECT_EQ(Stored()[0], (SetupSettings{11112, "0.0.0.0", 32228, "COM16"}));

    auto page = Client().Get("/setup?saved=1");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find(kSavedMessage), std::string::npos);
    EXPECT_NE(page->body.find("Stored for the next start"), std::string::npos);
    EXPECT_NE(page->body.find("value=\"COM16\""), std::string::npos);

    reply = PostForm(GoodForm());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    ASSERT_EQ(Stored().size(), 2u);
    EXPECT_EQ(Stored()[1], (SetupSettings{11112, "0.0.0.0", 32228, "/dev/ttyUSB0"}));

    // An empty serial port leaves it as it is.
    auto form = GoodForm();
    form.erase("SerialPort");
    form.emplace("SerialPort", " ");
    reply = PostForm(form);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    ASSERT_EQ(Stored().size(), 3u);
    EXPECT_EQ(Stored()[2].serialPort, "");
    page = Client().Get("/setup");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<td>Serial port</td><td>unchanged</td>"), std::string::npos);
}

TEST_F(SetupPagesTest, StoreFailureAndForeignOriginsAreReported) {
    {
        std::lock_guard lock(mutex_);
        storeWorks_ = false;
    }
    auto reply = PostForm(GoodForm());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_NE(reply->body.find("the settings file is read-only"), std::string::npos);
    auto page = Client().Get("/setup");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("Stored for the next start"), std::string::npos);

    {
        std::lock_guard lock(mutex_);
        storeWorks_ = true;
    }
    reply = PostForm(GoodForm(), {{"Origin", "http://evil.example"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 403);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SetupPagesTest, CompensationThermometerFormStoresOnlyAChoiceItOffers) {
    const std::string focuser = "/setup/v1/focuser/0/setup";
    auto page = Client().Get(focuser);
    ASSERT_TRUE(page);
    // Without a connection the sensor count is unknown: every sensor is offered.
    for (const char* option : {"<option value=\"-1\"", "<option value=\"0\"", "<option value=\"3\""})
        EXPECT_NE(page->body.find(option), std::string::npos) << option;
    EXPECT_EQ(page->body.find("<option value=\"4\""), std::string::npos);
    page = Client().Get("/setup/v1/focuser/1/setup");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("CompensationThermometer"), std::string::npos);

    for (const char* bad : {"", " ", "4", "-2", "1x", "0.5", "999999999999"}) {
        auto reply = PostTo(focuser, {{"CompensationThermometer", bad}});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 400) << "'" << bad << "'";
        EXPECT_NE(reply->body.find("Not saved"), std::string::npos) << bad;
    }
    auto reply = PostTo(focuser, {{"Other", "1"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    reply = PostTo(focuser, {{"CompensationThermometer", "1"}}, {{"Origin", "http://evil.example"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 403);
    reply = PostTo(focuser, {{"CompensationThermometer", "1"}, {"Token", "0"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 403);  // a form of another run or another site
    reply = PostTo("/setup/v1/focuser/1/setup", {{"CompensationThermometer", "1"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 404);
    EXPECT_TRUE(Thermometers().empty());

    reply = PostTo(focuser, {{"CompensationThermometer", "2"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    EXPECT_EQ(reply->get_header_value("Location"), focuser + "?saved=1");
    reply = PostTo(focuser, {{"CompensationThermometer", " -1 "}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    EXPECT_EQ(Thermometers(), (std::vector<int>{2, -1}));

    {
        std::lock_guard lock(mutex_);
        storeWorks_ = false;
    }
    reply = PostTo(focuser, {{"CompensationThermometer", "1"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_NE(reply->body.find("the settings file is read-only"), std::string::npos);
}

TEST_F(SetupPagesTest, GoodValuesOfEveryKindAreStored) {
    const std::pair<const char*, const char*> cases[] = {
        {"AlpacaPort", "0"},           {"AlpacaPort", "1024"},         {"AlpacaPort", "65535"},
        {"DiscoveryPort", "0"},        {"AlpacaBind", "127.0.0.1"},    {"AlpacaBind", "127.0.0.2"},
        {"AlpacaBind", "::1"},         {"AlpacaBind", "::"},           {"AlpacaBind", "0.0.0.0"},
        {"AlpacaBind", "192.0.2.7"},   {"AlpacaBind", "fd00::7"},      {"SerialPort", "COM1"},
        {"SerialPort", "/dev/ttyUSB0"}, {"SerialPort", "/dev/ttyACM1"}, {"SerialPort", "/dev/ttyS2"},
        {"SerialPort", "/dev/ttyAMA0"}, {"SerialPort", "/dev/rfcomm0"},
        {"SerialPort", "/dev/serial/by-id/usb-wheel"},
    };
    for (const auto& [key, value] : cases) {
        auto form = GoodForm();
        form.erase(key);
        form.emplace(key, value);
        auto reply = PostForm(form);
        ASSERT_TRUE(reply) << key << "=" << value;
        EXPECT_EQ(reply->status, 303) << key << "=" << value << ": " << reply->body;
    }
    EXPECT_EQ(Stored().size(), std::size(cases));
}

// A page of another site, or one that reached this server under a rebound DNS name, cannot
// store settings; a post must carry this server's Origin and this run's token.
TEST_F(SetupPagesTest, PostsWithoutMatchingOriginAndTokenAreRefused) {
    const std::string self = "127.0.0.1:" + std::to_string(port_);
    struct Case {
        const char* what;
        test::http::Headers headers;
        std::optional<std::string> token;
        int status;
    };
    const Case cases[] = {
        {"no Origin", {{"Origin", ""}}, context_.token, 403},
        {"Referer only", {{"Referer", "http://" + self + "/setup"}}, context_.token, 403},
        {"other origin", {{"Origin", "http://127.0.0.2:8000"}}, context_.token, 403},
        {"other port", {{"Origin", "http://127.0.0.1:1"}}, context_.token, 403},
        {"null origin", {{"Origin", "null"}}, context_.token, 403},
        {"no token", {}, std::nullopt, 403},
        {"wrong token", {}, std::string(context_.token.size(), '0'), 403},
        {"empty token", {}, std::string(), 403},
        {"rebound name", {{"Host", "rebind.test:" + std::to_string(port_)},
                          {"Origin", "http://rebind.test:" + std::to_string(port_)}}, context_.token, 403},
        {"both match", {}, context_.token, 303},
    };
    std::size_t expectedStored = 0;
    for (const Case& c : cases) {
        auto form = GoodForm();
        form.emplace("Token", c.token.value_or(""));
        if (!c.token) form.erase("Token");
        auto headers = c.headers;
        if (headers.count("Origin") == 0 && headers.count("Referer") == 0)
            headers.emplace("Origin", "http://" + self);
        // An empty Origin stands for none: the client sends what it is given, so drop it here.
        if (auto o = headers.find("Origin"); o != headers.end() && o->second.empty()) headers.erase(o);
        test::http::Result reply = Client().Post("/setup", headers, form);
        ASSERT_TRUE(reply) << c.what;
        EXPECT_EQ(reply->status, c.status) << c.what << ": " << reply->body;
        if (c.status == 303) ++expectedStored;
        EXPECT_EQ(Stored().size(), expectedStored) << c.what;
    }
    // The token is in the page the server gives out, and differs between runs.
    auto page = Client().Get("/setup");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("name=\"Token\" value=\"" + context_.token + "\""), std::string::npos);
    EXPECT_EQ(context_.token.size(), 32u);
    EXPECT_NE(NewFormToken(), NewFormToken());
}

TEST_F(SetupPagesTest, RequestsUnderForeignHostNamesAreRefused) {
    const std::string port = ":" + std::to_string(port_);
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const struct {
        std::string host;
        int status;
    } cases[] = {
        {"127.0.0.1" + port, 200},  {"localhost" + port, 200},  {"LOCALHOST" + port, 200},
        {"[::1]" + port, 200},       {"127.0.0.2" + port, 200},  {std::string(name) + port, 200},
        {"rebind.test" + port, 403}, {"evil.example", 403},      {"1.2.3.4" + port, 403},
        {"127.0.0.1.evil.example" + port, 403}, {"", 403},        {"[::1" + port, 403},
        {"localhost.evil" + port, 403},
    };
    for (const auto& c : cases) {
        for (const char* path : {"/setup", "/setup/v1/status.json", "/setup/v1/filterwheel/0/setup"}) {
            auto reply = Client().Get(path, {{"Host", c.host}});
            ASSERT_TRUE(reply) << c.host << path;
            EXPECT_EQ(reply->status, c.status) << c.host << path;
        }
    }
}

TEST(SetupSecurityTest, HostHeaderParts) {
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.1:11111", "127.0.0.1"}, {"LocalHost", "localhost"}, {"localhost.:80", "localhost"},
        {"[::1]:11111", "::1"},           {"[::1]", "::1"},           {"::1", ""},
        {"[::1", ""},                     {"[::1]x", ""},             {"", ""},
    };
    for (const auto& [header, host] : cases) EXPECT_EQ(HostOfHeader(header), host) << header;
}

TEST(SetupSecurityTest, SerialDeviceNames) {
    for (const char* good : {"ttyUSB0", "ttyUSB15", "ttyACM0", "ttyS3", "ttyAMA0", "rfcomm1"})
        EXPECT_TRUE(IsSerialDeviceName(good)) << good;
    for (const char* bad : {"ttyUSB", "tty0", "ttyS", "ttyUSB0a", "pts", "ttyprintk", "mem", "ttyUSB-1", "ttyS12345"})
        EXPECT_FALSE(IsSerialDeviceName(bad)) << bad;
}

// The system's own view: device nodes that are not serial ports are refused for what they are.
TEST(SetupSecurityTest, RealDeviceNodesThatAreNoSerialPortsAreRefused) {
    for (const char* path : {"/dev/null", "/dev/mem", "/dev/zero", "/dev/fd/0", "/dev/ptmx", "/dev/tty", "/dev/ttyUSB999"})
        EXPECT_FALSE(SerialPathProblem(path).empty()) << path;
    struct stat info {};
    if (::stat("/dev/ttyS0", &info) == 0 && S_ISCHR(info.st_mode)) {
        EXPECT_EQ(SerialPathProblem("/dev/ttyS0"), "");
    }
}

}  // namespace
}  // namespace velq3::alpaca
