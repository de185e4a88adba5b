// Several clients of one device connecting and disconnecting at once, as an imaging program and
// a guider do when they start together.
#include <gtest/gtest.h>

#include <future>

#include "alpaca/AlpacaSimFixture.h"

namespace velq3::test {
namespace {

// A controller that answers each command late, so that a connection takes a while.
class ConcurrentConnectTest : public AlpacaSimTest {
protected:
    void SetUp() override { Start({"--slow-ms", "60"}); }

    // Each client has its own HTTP connection.
    std::future<Reply> PutAsync(const std::string& device, const std::string& member, const std::string& form) {
        const std::uint16_t port = face->Port();
        return std::async(std::launch::async, [port, device, member, form] {
            AlpacaClient own(port);
            return own.Put("/api/v1/" + device + "/" + member, form);
        });
    }

    Reply WaitConnectingEnds(const std::string& device) {
        return WaitFor(device, "connecting", [](const Json& v) { return v == false; }, 20s);
    }
};

TEST_F(ConcurrentConnectTest, AConnectDuringAConnectJoinsIt) {
    struct Case {
        const char* member;
        const char* form;
    };
    // The Platform 7 members and the Connected property, each twice at once.
    for (const Case& c : {Case{"connect", "ClientID=1"}, Case{"connected", "ClientID=1&Connected=true"}}) {
        SCOPED_TRACE(c.member);
        ASSERT_EQ(Put("focuser/0", "connected", "Connected=false").Error(), 0);
        auto first = PutAsync("focuser/0", c.member, c.form);
        auto second = PutAsync("focuser/0", c.member, c.form);
        const Reply a = first.get();
        const Reply b = second.get();
        EXPECT_EQ(a.status, 200);
        EXPECT_EQ(a.Error(), 0) << a.body;
        EXPECT_EQ(b.status, 200);
        EXPECT_EQ(b.Error(), 0) << b.body;
        const Reply ended = WaitConnectingEnds("focuser/0");
        EXPECT_EQ(ended.Error(), 0) << ended.body;
        EXPECT_EQ(Get("focuser/0", "connected").Value(), true);
        EXPECT_EQ(Get("focuser/0", "position").Error(), 0);
    }
}

TEST_F(ConcurrentConnectTest, ADisconnectDuringAConnectWaitsForIt) {
    struct Case {
        const char* member;
        const char* form;
    };
    for (const Case& c : {Case{"disconnect", "ClientID=2"}, Case{"connected", "ClientID=2&Connected=false"}}) {
        SCOPED_TRACE(c.member);
        ASSERT_EQ(Put("focuser/0", "connect", "ClientID=1").Error(), 0);
        ASSERT_EQ(Get("focuser/0", "connecting").Value(), true);
        const Reply r = Put("focuser/0", c.member, c.form);
        EXPECT_EQ(r.Error(), 0) << r.body;
        const Reply ended = WaitConnectingEnds("focuser/0");
        EXPECT_EQ(ended.Error(), 0) << ended.body;
        // The later request wins: the device ends disconnected, and the link is closed.
        EXPECT_EQ(Get("focuser/0", "connected").Value(), false);
        EXPECT_FALSE(service->Service().Current()->open);
    }
    // A Connect after a Disconnect in progress runs after it.
    ASSERT_EQ(Put("focuser/0", "connected", "Connected=true").Error(), 0);
    ASSERT_EQ(Put("focuser/0", "disconnect").Error(), 0);
    ASSERT_EQ(Put("focuser/0", "connect").Error(), 0);
    EXPECT_EQ(WaitConnectingEnds("focuser/0").Error(), 0);
    EXPECT_EQ(Get("focuser/0", "connected").Value(), true);
}

} // namespace
} // namespace velq3::test
