// The wire rules: parameter parsing, transaction IDs, envelopes, routing and bad input, against
// a live server on a free loopback port with a small device whose connection the test controls.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "alpaca/AlpacaServer.h"
#include "alpaca/Protocol.h"
#include "alpaca/AlpacaClient.h"
#include "alpaca/FakeDevice.h"

namespace velq3::alpaca {
namespace {

using test::AlpacaClient;
using test::RawExchange;
using test::RawStatus;
using test::Reply;

// ---- pure rules ----

TEST(Parsing, PercentDecodingAndPlus) {
    std::string out;
    EXPECT_TRUE(PercentDecode("a%20b+c%2Bd", true, out));
    EXPECT_EQ(out, "a b c+d");
    EXPECT_TRUE(PercentDecode("a+b", false, out));
    EXPECT_EQ(out, "a+b");
    EXPECT_FALSE(PercentDecode("%", true, out));
    EXPECT_FALSE(PercentDecode("%4", true, out));
    EXPECT_FALSE(PercentDecode("%zz", true, out));
}

TEST(Parsing, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("H\xCE\xB1 \xE2\x82\xAC \xF0\x9F\x94\xAD"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

TEST(Parsing, StrictBoolIntAndDouble) {
    EXPECT_EQ(ParseBool("True"), true);
    EXPECT_EQ(ParseBool("FALSE"), false);
    EXPECT_FALSE(ParseBool("1"));
    EXPECT_FALSE(ParseBool(" true"));
    EXPECT_FALSE(ParseBool(""));

    EXPECT_EQ(ParseInt32("-12"), -12);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    for (const char* bad : {"", "-", "+", "+-1", "1.0", "1e3", " 1", "1 ", "2147483648", "0x10", "asdqwe", "--1"})
        EXPECT_FALSE(ParseInt32(bad)) << bad;

    EXPECT_EQ(ParseUInt32("4294967295"), 4294967295u);
    for (const char* bad : {"-1", "-0", "4294967296", "", " ", "NASDAQ"}) EXPECT_FALSE(ParseUInt32(bad)) << bad;

    EXPECT_EQ(ParseDouble("1.5"), 1.5);
    EXPECT_EQ(ParseDouble("-2e2"), -200.0);
    EXPECT_EQ(ParseDouble("+0.25"), 0.25);
    for (const char* bad : {"", "1,5", "nan", "NaN", "inf", "-inf", "1e999", "0x1p3", "1.5x", " 1", "+-1", "--1"})
        EXPECT_FALSE(ParseDouble(bad)) << bad;
}

TEST(Parsing, GetKeysCaselessPutKeysExact) {
    const auto get = Params::Parse("clientid=5&POSITION=3&x", Verb::Get);
    ASSERT_TRUE(get);
    EXPECT_EQ(get->Find("ClientID"), "5");
    EXPECT_EQ(get->Find("Position"), "3");
    EXPECT_EQ(get->Find("x"), "");
    const auto put = Params::Parse("pOSITION=3&Position=4", Verb::Put);
    ASSERT_TRUE(put);
    EXPECT_EQ(put->Find("Position"), "4");
    EXPECT_FALSE(Params::Parse("a=%zz", Verb::Get));
    EXPECT_FALSE(Params::Parse("a=%FF", Verb::Put));
}

TEST(Parsing, ClientIdsMissingBadAndCased) {
    std::string error;
    auto ids = ReadClientIds(*Params::Parse("", Verb::Put), error);
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->clientTransactionId, 0u);
    ids = ReadClientIds(*Params::Parse("clienttransactionid=9", Verb::Put), error);
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->clientTransactionId, 0u);  // wrongly cased in a PUT: ignored
    ids = ReadClientIds(*Params::Parse("clienttransactionid=9", Verb::Get), error);
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->clientTransactionId, 9u);
    EXPECT_FALSE(ReadClientIds(*Params::Parse("ClientID=-12345", Verb::Put), error));
    EXPECT_NE(error.find("ClientID"), std::string::npos);
}

TEST(Envelope, CounterSkipsZeroAndRepliesCarryEveryKey) {
    TransactionCounter counter;
    EXPECT_EQ(counter.Next(), 1u);
    EXPECT_EQ(counter.Next(), 2u);

    const Json placeholder = 0;
    HttpReply r = EnvelopeReply(Outcome::Error(ErrorCode::NotConnected, "off"), placeholder, Verb::Get, {1, 7}, 3);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.contentType, "application/json");
    Json j = Json::parse(r.body);
    EXPECT_EQ(j["Value"], 0);
    EXPECT_EQ(j["ClientTransactionID"], 7);
    EXPECT_EQ(j["ServerTransactionID"], 3);
    EXPECT_EQ(j["ErrorNumber"], 0x407);
    EXPECT_EQ(j["ErrorMessage"], "off");

    r = EnvelopeReply(Outcome::Done(), placeholder, Verb::Put, {}, 4);
    j = Json::parse(r.body);
    EXPECT_FALSE(j.contains("Value"));
    EXPECT_EQ(j["ErrorMessage"], "");

    // A double round-trips and never depends on the locale; NaN never reaches JSON.
    r = EnvelopeReply(Outcome::Of(0.1 + 0.2), placeholder, Verb::Get, {}, 5);
    EXPECT_EQ(Json::parse(r.body)["Value"].get<double>(), 0.1 + 0.2);
    EXPECT_EQ(DoubleValue(std::nan(""), "Temperature").error, ErrorCode::NoValue);
    EXPECT_EQ(DoubleValue(INFINITY, "Temperature").error, ErrorCode::NoValue);
    // Text that is not UTF-8 is replaced, not sent; quotes and line breaks are escaped.
    r = EnvelopeReply(Outcome::Of("a\xFF"), placeholder, Verb::Get, {}, 6);
    EXPECT_TRUE(IsValidUtf8(r.body));
    r = EnvelopeReply(Outcome::Error(ErrorCode::InvalidValue, "say \"no\"\n\xFF"), placeholder, Verb::Put, {}, 7);
    EXPECT_TRUE(IsValidUtf8(r.body));
    j = Json::parse(r.body);
    EXPECT_EQ(j["ErrorMessage"].get<std::string>().substr(0, 9), "say \"no\"\n");
    EXPECT_FALSE(j.contains("Value"));
}

// ---- a live server ----

class LiveServer : public ::testing::Test {
protected:
    void SetUp() override {
        ServerLimits limits;
        limits.keepAliveIdleSeconds = 1;
        limits.readTimeoutSeconds = 1;
        server = std::make_unique<AlpacaServer>(ServerDescription{"velq3", "velq3", "1.0", "test bench"}, limits);
        server->AddDevice(device, "11111111-2222-4333-8444-555555555555");
        std::string error;
        ASSERT_TRUE(server->Start("127.0.0.1", 0, error)) << error;
        client = std::make_unique<AlpacaClient>(server->Port());
    }

    std::vector<int> Sent() {
        std::lock_guard lock(device.mutex);
        return device.sent;
    }

    FakeConnection connection;
    TestDevice device{connection};
    std::unique_ptr<AlpacaServer> server;
    std::unique_ptr<AlpacaClient> client;
    const std::string base = "/api/v1/filterwheel/0/";
};

TEST_F(LiveServer, ConnectedPutsEchoIdsInAnyKeyOrder) {
    std::uint32_t lastServerId = 0;
    int i = 0;
    for (const char* value : {"True", "False", "True"}) {
        for (bool reordered : {false, true}) {
            const std::string form = reordered
                ? std::string("ClientTransactionID=67890&Connected=") + value + "&ClientID=123456"
                : std::string("Connected=") + value + "&ClientID=123456&ClientTransactionID=67890";
            const Reply r = client->Put(base + "connected", form);
            ASSERT_EQ(r.status, 200) << r.body;
            EXPECT_EQ(r.contentType.rfind("application/json", 0), 0u);
            EXPECT_EQ(r.json["ClientTransactionID"], 67890);
            const auto serverId = r.json["ServerTransactionID"].get<std::uint32_t>();
            EXPECT_GT(serverId, lastServerId);
            lastServerId = serverId;
            EXPECT_EQ(r.Error(), 0);
            EXPECT_EQ(r.json["ErrorMessage"], "");
            EXPECT_FALSE(r.json.contains("Value"));
            ++i;
        }
        EXPECT_EQ(connection.connected.load(), std::string(value) == "True");
    }
    // Badly valued Connected: a bad request, and nothing changes.
    for (const char* bad : {"", "123456", "asdqwe"}) {
        const Reply r = client->Put(base + "connected", std::string("Connected=") + bad + "&ClientTransactionID=1");
        EXPECT_EQ(r.status, 400) << bad;
        EXPECT_TRUE(connection.connected.load());
    }
    EXPECT_EQ(client->Put(base + "connected", "connected=false").status, 400);  // PUT key cased wrongly
    EXPECT_TRUE(connection.connected.load());
}

TEST_F(LiveServer, BadPathsAreBadRequests) {
    for (const std::string path : {"/api/v1/FILTERWHEEL/0/position", "/api/v1/baddevicetype/0/position",
                                   "/api/v1/filterwheel/-1/position", "/api/v1/filterwheel/99999/position",
                                   "/api/v1/filterwheel/A/position", "/api/v1/filterwheel/0/descrip",
                                   "/api/v1/filterwheel/0/Position", "/apx/v1/filterwheel/0/position",
                                   "/api/1/filterwheel/0/position", "/api/v/filterwheel/0/position",
                                   "/api/V1/filterwheel/0/position", "/api/v2/filterwheel/0/position",
                                   "/api/v1/filterwheel/0", "/api/v1/filterwheel/0/position/x",
                                   "/api/v1/filterwheel/00000000000/position", "/", "/nothing",
                                   "/management/v2/description"}) {
        const Reply r = client->Get(path);
        EXPECT_EQ(r.status, 400) << path;
        EXPECT_FALSE(r.body.empty()) << path;
        EXPECT_EQ(r.contentType.rfind("text/plain", 0), 0u) << path;
    }
    EXPECT_EQ(client->Put("/api/v1/filterwheel/0/descrip", "ClientID=1").status, 400);
    EXPECT_EQ(client->Put("/api/v1/filterwheel/1/position", "Position=1").status, 400);
    // A member used with the other verb.
    EXPECT_EQ(client->Get(base + "connect").status, 400);
    EXPECT_EQ(client->Put(base + "names", "").status, 400);
    for (const char* method : {"POST", "DELETE"}) {
        const Reply r = client->Send(method, base + "position");
        EXPECT_GE(r.status, 400) << method;
        EXPECT_LT(r.status, 500) << method;
    }
}

TEST_F(LiveServer, GetIdsEchoedWithAnyKeyCasingAndExtraParameters) {
    connection.connected = true;
    for (const std::string query : {"ClientID=123456&ClientTransactionID=67890",
                                    "ClientID=123456&ClientTransactionID=67890&ExtraParameter=ExtraValue",
                                    "clientid=123456&ClientTransactionID=67890",
                                    "ClientID=123456&clienttransactionid=67890", "CLIENTTRANSACTIONID=67890"}) {
        const Reply r = client->Get(base + "position", query);
        ASSERT_EQ(r.status, 200) << query;
        EXPECT_EQ(r.json["ClientTransactionID"], 67890) << query;
        EXPECT_EQ(r.Value(), 0);
    }
    // Missing IDs echo 0.
    EXPECT_EQ(client->Get(base + "position").json["ClientTransactionID"], 0);
    // A GET parameter's key in any casing; a bad value is a bad request.
    EXPECT_EQ(client->Get(base + "gettemp", "iD=2.5").Value(), 2.5);
    EXPECT_EQ(client->Get(base + "gettemp", "Id=asduio6fghZZ").status, 400);
}

TEST_F(LiveServer, PutKeyRulesAndIdEcho) {
    connection.connected = true;
    Reply r = client->Put(base + "position", "Position=1&ClientID=123456&ClientTransactionID=67890&ExtraParameter=ExtraValue");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.json["ClientTransactionID"], 67890);
    r = client->Put(base + "position", "Position=2&clientid=123456&ClientTransactionID=67890");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.json["ClientTransactionID"], 67890);
    // A wrongly cased ClientTransactionID in a PUT is ignored: 0 comes back.
    r = client->Put(base + "position", "Position=1&ClientID=123456&clienttransactionid=67890");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.json["ClientTransactionID"], 0);
    // The member's own key inverted: missing, so a bad request, and nothing is sent.
    const auto before = Sent().size();
    EXPECT_EQ(client->Put(base + "position", "pOSITION=1&ClientTransactionID=5").status, 400);
    EXPECT_EQ(client->Put(base + "position", "Position=one").status, 400);
    EXPECT_EQ(client->Put(base + "position", "ClientID=1").status, 400);
    EXPECT_EQ(Sent().size(), before);
    EXPECT_EQ(Sent(), (std::vector<int>{1, 2, 1}));
}

TEST_F(LiveServer, BadClientIdValuesAreBadRequestsOnEveryVerb) {
    connection.connected = true;
    for (const std::string bad : {"", "%20", "-12345", "NASDAQ", "qweqwe", "1.5", "4294967296", "0x10"}) {
        EXPECT_EQ(client->Get(base + "position", "ClientID=" + bad).status, 400) << bad;
        EXPECT_EQ(client->Get(base + "position", "ClientTransactionID=" + bad).status, 400) << bad;
        EXPECT_EQ(client->Put(base + "position", "Position=1&ClientID=" + bad).status, 400) << bad;
        EXPECT_EQ(client->Put(base + "position", "Position=1&ClientTransactionID=" + bad).status, 400) << bad;
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(LiveServer, NotConnectedOutOfRangeAndPlaceholders) {
    Reply r = client->Get(base + "position");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Error(), 0x407);
    EXPECT_FALSE(r.json["ErrorMessage"].get<std::string>().empty());
    EXPECT_EQ(r.Value(), 0);  // a type-correct Value even on error
    EXPECT_EQ(client->Get(base + "names").Value(), Json::array());
    EXPECT_EQ(client->Put(base + "position", "Position=1").Error(), 0x407);
    EXPECT_TRUE(Sent().empty());
    // The common members answer while not connected; Connected never reads 0x407.
    for (const char* member : {"connected", "connecting", "description", "driverinfo", "driverversion",
                               "interfaceversion", "name", "supportedactions"}) {
        r = client->Get(base + member);
        EXPECT_EQ(r.status, 200) << member;
        EXPECT_EQ(r.Error(), 0) << member;
        EXPECT_TRUE(r.json.contains("Value")) << member;
    }
    EXPECT_EQ(client->Get(base + "interfaceversion").Value(), 3);
    EXPECT_EQ(client->Get(base + "supportedactions").Value(), Json::array());

    connection.connected = true;
    r = client->Put(base + "position", "Position=3");
    EXPECT_EQ(r.Error(), 0x401);
    EXPECT_EQ(client->Put(base + "position", "Position=-1").Error(), 0x401);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(client->Put(base + "action", "Action=Foo&Parameters=").Error(), 0x40C);
    EXPECT_EQ(client->Put(base + "commandblind", "Command=X&Raw=false").Error(), 0x400);
    EXPECT_EQ(client->Put(base + "commandstring", "Command=X").status, 400);
}

TEST_F(LiveServer, DeviceStateNamesValuesAndTimeStamp) {
    connection.connected = true;
    const Reply r = client->Get(base + "devicestate");
    ASSERT_EQ(r.Error(), 0);
    ASSERT_TRUE(r.Value().is_array());
    bool position = false, stamp = false;
    for (const Json& item : r.Value()) {
        ASSERT_TRUE(item.contains("Name") && item.contains("Value"));
        if (item["Name"] == "Position") position = item["Value"] == 0;
        if (item["Name"] == "TimeStamp") {
            const std::string t = item["Value"];
            stamp = t.size() == 24 && t[10] == 'T' && t.back() == 'Z';
        }
    }
    EXPECT_TRUE(position);
    EXPECT_TRUE(stamp);
}

TEST_F(LiveServer, ManagementApi) {
    Reply r = client->Get("/management/apiversions", "ClientTransactionID=4");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Value(), Json::array({1}));
    EXPECT_EQ(r.json["ClientTransactionID"], 4);
    EXPECT_GE(r.json["ServerTransactionID"].get<std::uint32_t>(), 1u);
    r = client->Get("/management/v1/description");
    EXPECT_EQ(r.Value()["ServerName"], "velq3");
    for (const char* key : {"ServerName", "Manufacturer", "ManufacturerVersion", "Location"})
        EXPECT_TRUE(r.Value().contains(key)) << key;
    r = client->Get("/management/v1/configureddevices");
    ASSERT_EQ(r.Value().size(), 1u);
    const Json& d = r.Value()[0];
    EXPECT_EQ(d["DeviceName"], "Test wheel");
    EXPECT_EQ(d["DeviceType"], "FilterWheel");
    EXPECT_EQ(d["DeviceNumber"], 0);
    EXPECT_EQ(d["UniqueID"], "11111111-2222-4333-8444-555555555555");
}

TEST_F(LiveServer, BadInputNeverCrashesNorAppliesHalfACommand) {
    connection.connected = true;
    // Larger than 64 KiB, and a form larger than the library's form limit.
    EXPECT_EQ(client->Put(base + "position", "Position=1&Pad=" + std::string(70 * 1024, 'x')).status, 400);
    EXPECT_EQ(client->Put(base + "position", "Position=1&Pad=" + std::string(20 * 1024, 'x')).status, 400);
    // Huge numbers and NaN.
    for (const char* v : {"99999999999999999999", "1e400", "NaN", "nan", "Infinity", "1%00"})
        EXPECT_EQ(client->Put(base + "position", std::string("Position=") + v).status, 400) << v;
    EXPECT_EQ(client->Get(base + "gettemp", "Id=1e999").status, 400);
    // Bad UTF-8 and broken escapes.
    EXPECT_EQ(client->Put(base + "action", "Action=%FF%FE&Parameters=").status, 400);
    EXPECT_EQ(client->Put(base + "position", "Position=%G1").status, 400);
    EXPECT_EQ(client->Get(base + "position", "ClientID=%C0%AF").status, 400);
    // A very long path.
    EXPECT_EQ(client->Get("/api/v1/" + std::string(6000, 'a') + "/0/x").status, 400);
    EXPECT_EQ(client->Put("/api/v1/" + std::string(6000, 'a') + "/0/x", "Position=1").status, 400);
    EXPECT_TRUE(Sent().empty());

    // Malformed HTTP on raw sockets: a short text reply, and the server keeps serving.
    for (const std::string& raw : {std::string("GARBAGE\r\n\r\n"), std::string("GET\r\n\r\n"),
                                  std::string("PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nContent-Length: -5\r\n\r\n"),
                                  std::string("GET /") + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n"}) {
        const std::string got = RawExchange(server->Port(), raw);
        EXPECT_EQ(RawStatus(got), 400) << raw.substr(0, 60) << " -> " << got.substr(0, 80);
    }
    // A PUT without a length is refused at once instead of waiting for the body.
    const auto start = std::chrono::steady_clock::now();
    const std::string got = RawExchange(server->Port(),
        "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\n\r\nPosition=1", 3000);
    EXPECT_EQ(RawStatus(got), 400) << got;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(client->Get(base + "name").Value(), "Test wheel");
}

TEST_F(LiveServer, ATakenPortIsAnErrorNotASharedPort) {
    AlpacaServer second(ServerDescription{});
    std::string error;
    EXPECT_FALSE(second.Start("127.0.0.1", server->Port(), error));
    EXPECT_NE(error.find(std::to_string(server->Port())), std::string::npos) << error;
    EXPECT_FALSE(second.Running());
    EXPECT_FALSE(AlpacaServer(ServerDescription{}).Start("192.0.2.1", 0, error));  // not this computer's
}

TEST_F(LiveServer, KeptAliveConnectionsAreServedAndClosedWhenIdle) {
    connection.connected = true;
    // Two requests on one connection, then silence: the server closes it after the idle bound.
    test::RawConnection raw(server->Port());
    const std::string req = "GET /api/v1/filterwheel/0/name HTTP/1.1\r\nHost: x\r\n\r\n";
    EXPECT_EQ(RawStatus(raw.Exchange(req)), 200);
    EXPECT_EQ(RawStatus(raw.Exchange(req)), 200);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(raw.WaitClosed(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

} // namespace
} // namespace velq3::alpaca
