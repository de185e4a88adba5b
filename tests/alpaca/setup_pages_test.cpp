// Tests of the setup pages against a server on a free loopback port: the pages and their
// escaping, the status JSON, and the settings form (refused values store nothing).
#include "alpaca/SetupPages.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace velq3::alpaca {
namespace {

class SetupPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_.devices = {{"filterwheel", 0, "Filter wheel"},
                            {"focuser", 0, "Focuser"},
                            {"focuser", 1, "Focuser <2nd> & \"more\""},
                            {"switch", 0, "Outputs"}};
        context_.settings = {11111, "127.0.0.1", 32227, "COM3"};
        context_.serverName = "velq3";
        context_.version = "0.1.0";
        context_.status = [this] {
            std::lock_guard lock(mutex_);
            return status_;
        };
        context_.store = [this](const SetupSettings& s, std::string& error) {
            std::lock_guard lock(mutex_);
            if (!storeWorks_) {
                error = "the settings file is read-only";
                return false;
            }
            stored_.push_back(s);
            return true;
        };
        status_ = {{"controller",
                    {{"port", "/dev/pts/7"},
                     {"connected", true},
                     {"mode", "filter wheel"},
                     {"memorySize", 202},
                     {"fwAll", true},
                     {"voltage", 12.25},
                     {"power", 40},
                     {"temperatures", {{{"name", "Mirror"}, {"celsius", 4.5}}}}}},
                   {"devices",
                    {{{"type", "filterwheel"},
                      {"number", 0},
                      {"connected", true},
                      {"moving", false},
                      {"position", 3},
                      {"filter", "Red"}}}}};

        AddSetupRoutes(server_, context_);
        port_ = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }

    void TearDown() override {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }

    httplib::Client Client() {
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(2);
        client.set_read_timeout(5);
        return client;
    }

    httplib::Result PostForm(const httplib::Params& form, const httplib::Headers& headers = {}) {
        return Client().Post("/setup", headers, form);
    }

    std::vector<SetupSettings> Stored() {
        std::lock_guard lock(mutex_);
        return stored_;
    }

    SetupPageContext context_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    nlohmann::json status_;
    std::vector<SetupSettings> stored_;
    bool storeWorks_ = true;
};

httplib::Params GoodForm() {
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

TEST_F(SetupPagesTest, StatusJsonCarriesTheSnapshotFields) {
    auto reply = Client().Get("/setup/v1/status.json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type").rfind("application/json", 0), 0u);
    const auto json = nlohmann::json::parse(reply->body);
    EXPECT_EQ(json["controller"]["memorySize"], 202);
    EXPECT_EQ(json["controller"]["fwAll"], true);
    EXPECT_DOUBLE_EQ(json["controller"]["voltage"].get<double>(), 12.25);
    EXPECT_EQ(json["devices"][0]["position"], 3);
    EXPECT_EQ(json["devices"][0]["filter"], "Red");

    // A name that is not UTF-8 does not break the reply.
    {
        std::lock_guard lock(mutex_);
        status_["devices"][0]["filter"] = "R\xFF" "d";
    }
    reply = Client().Get("/setup/v1/status.json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(nlohmann::json::parse(reply->body)["devices"][0]["filter"], "R\xEF\xBF\xBD" "d");
}

TEST_F(SetupPagesTest, BadFormValuesAreRefusedAndNothingIsStored) {
    struct Case {
        const char* key;
        const char* value;
        const char* message;
    };
    const Case cases[] = {
        {"AlpacaPort", "0", "Alpaca port"},        {"AlpacaPort", "65536", "Alpaca port"},
        {"AlpacaPort", "80a", "Alpaca port"},      {"AlpacaPort", "-1", "Alpaca port"},
        {"AlpacaPort", "", "Alpaca port"},         {"DiscoveryPort", "99999999999", "discovery port"},
        {"AlpacaBind", "1.2.3", "bind address"},   {"AlpacaBind", "localhost", "bind address"},
        {"AlpacaBind", "::1", "bind address"},     {"AlpacaBind", "256.1.1.1", "bind address"},
        {"SerialPort", "COM0", "serial port"},     {"SerialPort", "COM256", "serial port"},
        {"SerialPort", "ttyUSB0", "serial port"},  {"SerialPort", "/dev/", "serial port"},
        {"SerialPort", "/dev/../etc/passwd", "serial port"},
        {"SerialPort", "/dev/tty USB0", "serial port"},
        {"SerialPort", "", "serial port"},
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
                           {"SerialPort", "COM12"}},
                          {{"Origin", "http://127.0.0.1:" + std::to_string(port_)}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    EXPECT_EQ(reply->get_header_value("Location"), "/setup?saved=1");
    ASSERT_EQ(Stored().size(), 1u);
    EXPECT_EQ(Stored()[0], (SetupSettings{11112, "0.0.0.0", 32228, "COM12"}));

    auto page = Client().Get("/setup?saved=1");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("Saved. The new settings are applied at the next start."),
              std::string::npos);
    EXPECT_NE(page->body.find("Stored for the next start"), std::string::npos);
    EXPECT_NE(page->body.find("value=\"COM12\""), std::string::npos);

    reply = PostForm(GoodForm());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 303);
    ASSERT_EQ(Stored().size(), 2u);
    EXPECT_EQ(Stored()[1], (SetupSettings{11112, "0.0.0.0", 32228, "/dev/ttyUSB0"}));
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

}  // namespace
}  // namespace velq3::alpaca
