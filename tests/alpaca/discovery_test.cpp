// Tests of the discovery responder over the loopback interface: broadcast and unicast probes,
// port sharing between two responders, wrong probes, IPv6 unicast, a prompt stop, the reply
// limit per sender and the loopback-only responder.
#include "alpaca/Discovery.h"

#include "alpaca/LocalAddresses.h"
#include "common/TestSockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace velq3::alpaca {
namespace {

using namespace std::chrono_literals;

// A client socket that sends probes and gathers the replies that arrive within a time window.
class Prober {
public:
    explicit Prober(int family = AF_INET) : family_(family) {
        fd_ = velq3::test::OpenSocket(family, SOCK_DGRAM);
        if (fd_ < 0) return;
        velq3::test::SetIntOption(fd_, SOL_SOCKET, SO_BROADCAST, 1);
    }
    ~Prober() { velq3::test::CloseSocket(fd_); }
    bool Ok() const { return fd_ >= 0; }

    bool Send(const std::string& address, std::uint16_t port, std::string_view payload) {
        sockaddr_storage to{};
        socklen_t length = 0;
        if (family_ == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&to);
            in->sin_family = AF_INET;
            in->sin_port = htons(port);
            if (::inet_pton(AF_INET, address.c_str(), &in->sin_addr) != 1) return false;
            length = sizeof *in;
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&to);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(port);
            if (::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) != 1) return false;
            length = sizeof *in6;
        }
        return ::sendto(fd_, payload.data(), payload.size(), 0,
                        reinterpret_cast<sockaddr*>(&to), length) ==
               static_cast<ssize_t>(payload.size());
    }

    // Every datagram received until `window` has passed.
    std::vector<std::string> Collect(std::chrono::milliseconds window) {
        std::vector<std::string> replies;
        const auto end = std::chrono::steady_clock::now() + window;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left <= 0ms) break;
            if (velq3::test::WaitSocket(fd_, POLLIN, static_cast<int>(left.count())) <= 0) break;
            char buffer[256];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n >= 0) replies.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        return replies;
    }

private:
    int family_;
    int fd_ = -1;
};

std::unique_ptr<DiscoveryResponder> Started(std::uint16_t discoveryPort, std::uint16_t alpacaPort,
                                            bool loopbackOnly = false) {
    auto responder = std::make_unique<DiscoveryResponder>(discoveryPort, alpacaPort, loopbackOnly);
    std::string error;
    EXPECT_TRUE(responder->Start(error)) << error;
    EXPECT_NE(responder->BoundPort(), 0);
    return responder;
}

// A non-loopback IPv4 address of this machine, or empty when it has none.
std::string OwnNonLoopbackIpv4() {
    for (const std::string& address : LocalAddresses()) {
        if (address.find(':') == std::string::npos && address.rfind("127.", 0) != 0) return address;
    }
    return {};
}

TEST(DiscoveryProbeTest, ProbeTextAndReply) {
    EXPECT_TRUE(IsDiscoveryProbe("alpacadiscovery1"));
    // Only the exact 16 bytes are a probe: no padding, nothing around it.
    EXPECT_FALSE(IsDiscoveryProbe(std::string("alpacadiscovery1") + std::string(48, '\0')));
    EXPECT_FALSE(IsDiscoveryProbe("alpacadiscovery1 padding"));
    EXPECT_FALSE(IsDiscoveryProbe("xalpacadiscovery1"));
    EXPECT_FALSE(IsDiscoveryProbe(std::string("alpacadiscovery1\0", 17)));
    EXPECT_FALSE(IsDiscoveryProbe("alpacadiscovery"));
    EXPECT_FALSE(IsDiscoveryProbe("alpacadiscovery2"));
    EXPECT_FALSE(IsDiscoveryProbe("ALPACADISCOVERY1"));
    EXPECT_FALSE(IsDiscoveryProbe(""));
    EXPECT_EQ(DiscoveryReply(11111), "{\"AlpacaPort\":11111}");
    EXPECT_EQ(DiscoveryReply(65535), "{\"AlpacaPort\":65535}");
}

TEST(DiscoveryResponderTest, UnicastProbeIsAnswered) {
    auto responder = Started(0, 4567);
    Prober prober;
    ASSERT_TRUE(prober.Ok());
    ASSERT_TRUE(prober.Send("127.0.0.1", responder->BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":4567}"});

    // A port chosen after the start shows in the next reply.
    responder->SetAlpacaPort(4568);
    ASSERT_TRUE(prober.Send("127.0.0.1", responder->BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":4568}"});
}

TEST(DiscoveryResponderTest, TwoRespondersBothAnswerABroadcast) {
    auto first = Started(0, 1111);
    auto second = Started(first->BoundPort(), 2222);
    ASSERT_EQ(second->BoundPort(), first->BoundPort());

    Prober prober;
    ASSERT_TRUE(prober.Ok());
    ASSERT_TRUE(prober.Send("127.255.255.255", first->BoundPort(), kDiscoveryProbe));
    auto replies = prober.Collect(700ms);
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies,
              (std::vector<std::string>{"{\"AlpacaPort\":1111}", "{\"AlpacaPort\":2222}"}));

    // After one stops, the other still answers and the stopped one is silent.
    first->Stop();
    ASSERT_TRUE(prober.Send("127.255.255.255", second->BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":2222}"});
}

TEST(DiscoveryResponderTest, WrongProbesGetNoAnswer) {
    auto responder = Started(0, 11111);
    Prober prober;
    ASSERT_TRUE(prober.Ok());
    const std::string longer = std::string(kDiscoveryProbe) + std::string(48, '\0');
    const std::string huge = std::string(kDiscoveryProbe) + std::string(4000, 'x');
    for (const std::string_view wrong :
         {std::string_view("alpacadiscovery"), std::string_view("alpacadiscovery2"),
          std::string_view("hello"), std::string_view(""),
          std::string_view("alpacadiscovery1 padding"), std::string_view("GET alpacadiscovery1"),
          std::string_view(longer), std::string_view(huge)}) {
        ASSERT_TRUE(prober.Send("127.0.0.1", responder->BoundPort(), wrong));
    }
    EXPECT_TRUE(prober.Collect(400ms).empty());
    // Still alive after the junk.
    ASSERT_TRUE(prober.Send("127.0.0.1", responder->BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms).size(), 1u);
}

TEST(DiscoveryResponderTest, Ipv6UnicastProbeIsAnswered) {
    auto responder = Started(0, 3333);
    if (!responder->HasIpv6()) GTEST_SKIP() << "no IPv6 on this host";
    Prober prober(AF_INET6);
    ASSERT_TRUE(prober.Ok());
    if (!prober.Send("::1", responder->BoundPort(), kDiscoveryProbe))
        GTEST_SKIP() << "cannot send to ::1 on this host";
    EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":3333}"});
}

TEST(DiscoveryResponderTest, StopReturnsPromptlyAndCanRestart) {
    DiscoveryResponder responder(0, 11111);
    std::string error;
    ASSERT_TRUE(responder.Start(error)) << error;
    EXPECT_FALSE(responder.Start(error));
    EXPECT_FALSE(error.empty());
    std::this_thread::sleep_for(50ms);  // the thread is waiting in poll() by now

    // Without the wake pipe the thread would wait for a datagram that never comes.
    const auto before = std::chrono::steady_clock::now();
    responder.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    responder.Stop();  // a second stop is harmless

    ASSERT_TRUE(responder.Start(error)) << error;
    Prober prober;
    ASSERT_TRUE(prober.Send("127.0.0.1", responder.BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms).size(), 1u);
}

TEST(DiscoveryRateLimitTest, FewRepliesPerSecondPerSender) {
    using Clock = DiscoveryRateLimit::Clock;
    const Clock::time_point t0{};
    struct Step {
        const char* sender;
        std::chrono::milliseconds at;
        bool allowed;
    };
    // Three replies a second each; two senders are counted apart.
    const Step steps[] = {
        {"a", 0ms, true},     {"a", 10ms, true},    {"a", 20ms, true},   {"a", 30ms, false},
        {"b", 40ms, true},    {"a", 999ms, false},  {"b", 50ms, true},   {"a", 1000ms, true},
        {"a", 1001ms, true},  {"a", 1002ms, true},  {"a", 1003ms, false}, {"b", 1100ms, true},
    };
    DiscoveryRateLimit limit(3, 16);
    for (const Step& step : steps)
        EXPECT_EQ(limit.Allow(step.sender, t0 + step.at), step.allowed)
            << step.sender << " at " << step.at.count() << " ms";
}

TEST(DiscoveryRateLimitTest, SenderTableIsBounded) {
    using Clock = DiscoveryRateLimit::Clock;
    const Clock::time_point t0{};
    DiscoveryRateLimit limit(2, 3);
    EXPECT_TRUE(limit.Allow("a", t0));
    EXPECT_TRUE(limit.Allow("b", t0 + 100ms));
    EXPECT_TRUE(limit.Allow("c", t0 + 200ms));
    // Full with senders of the last second: a new one waits.
    EXPECT_FALSE(limit.Allow("d", t0 + 900ms));
    EXPECT_EQ(limit.Senders(), 3u);
    // Once "a" and "b" are older than a second their places are free again.
    EXPECT_TRUE(limit.Allow("d", t0 + 1150ms));
    EXPECT_TRUE(limit.Allow("e", t0 + 1150ms));
    EXPECT_LE(limit.Senders(), 3u);
}

TEST(DiscoveryResponderTest, AFloodOfProbesGetsFewReplies) {
    auto responder = Started(0, 11111);
    Prober prober;
    ASSERT_TRUE(prober.Ok());
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(prober.Send("127.0.0.1", responder->BoundPort(), kDiscoveryProbe));
    const auto replies = prober.Collect(500ms);
    EXPECT_GE(replies.size(), 1u);
    EXPECT_LE(replies.size(), static_cast<std::size_t>(DiscoveryRateLimit::kRepliesPerSecond));
}

TEST(DiscoveryResponderTest, LoopbackOnlyResponderIgnoresOtherAddresses) {
    auto responder = Started(0, 5555, true);
    ASSERT_TRUE(responder->LoopbackOnly());
    Prober prober;
    ASSERT_TRUE(prober.Ok());
    // Unicast to loopback and the loopback broadcast alpyca uses are answered.
    for (const char* address : {"127.0.0.1", "127.255.255.255"}) {
        ASSERT_TRUE(prober.Send(address, responder->BoundPort(), kDiscoveryProbe)) << address;
        EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":5555}"})
            << address;
    }
    EXPECT_FALSE(responder->JoinedIpv6Group());

    const std::string own = OwnNonLoopbackIpv4();
    if (own.empty()) GTEST_SKIP() << "this host has no non-loopback IPv4 address";
    ASSERT_TRUE(prober.Send(own, responder->BoundPort(), kDiscoveryProbe));
    EXPECT_TRUE(prober.Collect(500ms).empty()) << "answered a probe to " << own;

    // A responder for a network bind answers the same probe.
    auto open = Started(0, 6666);
    ASSERT_TRUE(prober.Send(own, open->BoundPort(), kDiscoveryProbe));
    EXPECT_EQ(prober.Collect(500ms), std::vector<std::string>{"{\"AlpacaPort\":6666}"});
}

TEST(DiscoveryResponderTest, TakenPortWithoutSharingIsAClearError) {
    // A socket that does not allow sharing holds the port (on Windows it must say so: there
    // SO_REUSEADDR could otherwise take over a port held by a socket that did not set it).
    const int holder = velq3::test::OpenSocket(AF_INET, SOCK_DGRAM);
    ASSERT_GE(holder, 0);
#ifdef _WIN32
    velq3::test::SetIntOption(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::uint16_t port = ntohs(address.sin_port);

    DiscoveryResponder responder(port, 11111);
    std::string error;
    EXPECT_FALSE(responder.Start(error));
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
    velq3::test::CloseSocket(holder);
}

}  // namespace
}  // namespace velq3::alpaca
