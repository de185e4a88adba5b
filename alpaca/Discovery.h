// Alpaca discovery: answers "alpacadiscovery1" probes on UDP with {"AlpacaPort":N}, over IPv4
// (broadcast or unicast to any local address) and, where the host has IPv6, on the multicast
// group ff12::a1:9aca. Several servers on one host can share the port.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace velq3::alpaca {

// The probe a client sends (the version byte '1' included) and the multicast group for IPv6.
inline constexpr std::string_view kDiscoveryProbe = "alpacadiscovery1";
inline constexpr const char* kDiscoveryIpv6Group = "ff12::a1:9aca";

// True when a received datagram is a discovery probe: it contains the probe text, so padding in
// the reserved bytes after it does not matter.
bool IsDiscoveryProbe(std::string_view datagram);

// The reply datagram for an HTTP port: {"AlpacaPort":N}.
std::string DiscoveryReply(std::uint16_t alpacaPort);

class DiscoveryResponder {
public:
    // discoveryPort 0 lets the system pick one (tests); BoundPort() tells which.
    DiscoveryResponder(std::uint16_t discoveryPort, std::uint16_t alpacaPort);
    ~DiscoveryResponder();  // stops
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Opens the sockets and answers on its own thread. False with a message when the IPv4 socket
    // cannot be opened; IPv6 problems (no IPv6, the group cannot be joined) are not fatal.
    bool Start(std::string& error);
    // Stops answering and closes the sockets; returns at once (the thread waits in poll() with a
    // wake pipe). Safe to call more than once.
    void Stop();

    // The UDP port the responder listens on (0 before Start).
    std::uint16_t BoundPort() const { return boundPort_; }
    // True when the IPv6 socket is open (it answers unicast probes to IPv6 addresses).
    bool HasIpv6() const { return socket6_ >= 0; }
    // True when the IPv6 socket joined the multicast group on at least one interface.
    bool JoinedIpv6Group() const { return joinedGroup_; }
    // The HTTP port given in replies; may be changed while running (when the HTTP server picked
    // its port after the responder started).
    void SetAlpacaPort(std::uint16_t port) { alpacaPort_.store(port); }
    std::uint16_t AlpacaPort() const { return alpacaPort_.load(); }

private:
    void Run();
    void AnswerAll(int fd);
    void CloseAll();
    bool OpenIpv6();

    std::uint16_t requestedPort_;
    std::atomic<std::uint16_t> alpacaPort_;
    std::uint16_t boundPort_ = 0;
    int socket4_ = -1;
    int socket6_ = -1;
    bool joinedGroup_ = false;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace velq3::alpaca
