// Alpaca discovery: answers "alpacadiscovery1" probes on UDP with {"AlpacaPort":N}, over IPv4
// (broadcast or unicast to any local address) and, where the host has IPv6, on the multicast
// group ff12::a1:9aca. Several servers on one host can share the port. A responder for a server
// that serves loopback only answers loopback only, and every sender gets a few replies a second
// at most, so the responder cannot be used to flood a third party.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace velq3::alpaca {

// The probe a client sends (the version byte '1' included) and the multicast group for IPv6.
inline constexpr std::string_view kDiscoveryProbe = "alpacadiscovery1";
inline constexpr const char* kDiscoveryIpv6Group = "ff12::a1:9aca";

// True when a received datagram is a discovery probe: exactly the 16 bytes of the probe. Longer
// datagrams that merely contain it are not answered.
bool IsDiscoveryProbe(std::string_view datagram);

// At most `perSecond` replies to one sender (by address; the port is the sender's to vary) in any
// window of one second. The table of senders is bounded: when it is full of senders seen within
// the last second, new senders wait until entries expire.
class DiscoveryRateLimit {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kRepliesPerSecond = 5;
    static constexpr std::size_t kMaxSenders = 1024;

    explicit DiscoveryRateLimit(int perSecond = kRepliesPerSecond, std::size_t maxSenders = kMaxSenders)
        : perSecond_(perSecond), maxSenders_(maxSenders) {}

    // True when a reply to `sender` may be sent at `now` (and counts it).
    bool Allow(const std::string& sender, Clock::time_point now);
    std::size_t Senders() const { return senders_.size(); }

private:
    struct Window {
        Clock::time_point start;
        int replies = 0;
    };
    void DropExpired(Clock::time_point now);

    int perSecond_;
    std::size_t maxSenders_;
    std::unordered_map<std::string, Window> senders_;
};

// A socket: a descriptor on Linux, a SOCKET on Windows.
#ifdef _WIN32
using DiscoverySocket = std::uintptr_t;
inline constexpr DiscoverySocket kNoDiscoverySocket = ~DiscoverySocket{0};  // INVALID_SOCKET
#else
using DiscoverySocket = int;
inline constexpr DiscoverySocket kNoDiscoverySocket = -1;
#endif

// The reply datagram for an HTTP port: {"AlpacaPort":N}.
std::string DiscoveryReply(std::uint16_t alpacaPort);

class DiscoveryResponder {
public:
    // discoveryPort 0 lets the system pick one (tests); BoundPort() tells which. With
    // `loopbackOnly` only probes from and to a loopback address are answered (the HTTP server
    // is bound to loopback, so nobody else could use the reply) and IPv6 listens on ::1 only.
    DiscoveryResponder(std::uint16_t discoveryPort, std::uint16_t alpacaPort, bool loopbackOnly = false);
    ~DiscoveryResponder();  // stops
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Opens the sockets and answers on its own thread. False with a message when the IPv4 socket
    // cannot be opened; IPv6 problems (no IPv6, the group cannot be joined) are not fatal.
    bool Start(std::string& error);
    // Stops answering and closes the sockets; returns at once (the thread waits in poll() with a
    // wake pipe, or on Windows a wake socket). Safe to call more than once.
    void Stop();

    // The UDP port the responder listens on (0 before Start).
    std::uint16_t BoundPort() const { return boundPort_; }
    // True when the IPv6 socket is open (it answers unicast probes to IPv6 addresses).
    bool HasIpv6() const { return socket6_ != kNoDiscoverySocket; }
    // True when the IPv6 socket joined the multicast group on at least one interface.
    bool JoinedIpv6Group() const { return joinedGroup_; }
    // The HTTP port given in replies; may be changed while running (when the HTTP server picked
    // its port after the responder started).
    void SetAlpacaPort(std::uint16_t port) { alpacaPort_.store(port); }
    std::uint16_t AlpacaPort() const { return alpacaPort_.load(); }
    bool LoopbackOnly() const { return loopbackOnly_; }

private:
    void Run();
    void AnswerAll(DiscoverySocket fd);
    void CloseAll();
    bool OpenIpv6();

    std::uint16_t requestedPort_;
    std::atomic<std::uint16_t> alpacaPort_;
    bool loopbackOnly_;
    DiscoveryRateLimit limit_;  // used by the responder's thread only
    std::uint16_t boundPort_ = 0;
    DiscoverySocket socket4_ = kNoDiscoverySocket;
    DiscoverySocket socket6_ = kNoDiscoverySocket;
    bool joinedGroup_ = false;
    // Stop() wakes the thread: a pipe on Linux; on Windows a loopback datagram to wakeRead_.
    DiscoverySocket wakeRead_ = kNoDiscoverySocket;
    DiscoverySocket wakeWrite_ = kNoDiscoverySocket;
    std::thread thread_;
};

}  // namespace velq3::alpaca
