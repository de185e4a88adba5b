// Alpaca discovery responder on Windows: one thread waiting in WSAPoll() on the IPv4 socket, the
// IPv6 socket and a loopback wake socket that Stop() sends a datagram to. Winsock is started by
// Asio, which every program with the Alpaca face links.
#include "alpaca/Discovery.h"

#include "alpaca/DiscoverySender.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace velq3::alpaca {

namespace {

// A probe is 16 bytes; anything longer is no probe.
constexpr std::size_t kDatagramBuffer = 64;

SOCKET Win(DiscoverySocket s) { return static_cast<SOCKET>(s); }

std::string SocketErrorText(const char* what) {
    const int code = ::WSAGetLastError();
    char* text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? text : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return std::string(what) + ": " + message;
}

void CloseSocket(DiscoverySocket& s) {
    if (s != kNoDiscoverySocket) ::closesocket(Win(s));
    s = kNoDiscoverySocket;
}

DiscoverySocket OpenUdp(int family) {
    const SOCKET s = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return kNoDiscoverySocket;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    // Several servers on one host share the port (UDP with SO_REUSEADDR: each gets broadcasts).
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<DiscoverySocket>(s);
}

}  // namespace

bool DiscoveryResponder::Start(std::string& error) {
    if (thread_.joinable()) {
        error = "the discovery responder is already running";
        return false;
    }
    socket4_ = OpenUdp(AF_INET);
    if (socket4_ == kNoDiscoverySocket) {
        error = SocketErrorText("discovery socket");
        return false;
    }
    const BOOL on = TRUE;
    ::setsockopt(Win(socket4_), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    // INADDR_ANY: a socket bound to one address gets no broadcasts.
    sockaddr_in any4{};
    any4.sin_family = AF_INET;
    any4.sin_addr.s_addr = htonl(INADDR_ANY);
    any4.sin_port = htons(requestedPort_);
    if (::bind(Win(socket4_), reinterpret_cast<sockaddr*>(&any4), sizeof any4) != 0) {
        error = SocketErrorText(("discovery port " + std::to_string(requestedPort_)).c_str());
        CloseAll();
        return false;
    }
    sockaddr_in bound{};
    int boundLength = sizeof bound;
    if (::getsockname(Win(socket4_), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        error = SocketErrorText("discovery socket name");
        CloseAll();
        return false;
    }
    boundPort_ = ntohs(bound.sin_port);

    OpenIpv6();

    // The wake socket: bound to a loopback port of its own, which Stop() sends one byte to.
    wakeRead_ = OpenUdp(AF_INET);
    sockaddr_in loop{};
    loop.sin_family = AF_INET;
    loop.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (wakeRead_ == kNoDiscoverySocket ||
        ::bind(Win(wakeRead_), reinterpret_cast<sockaddr*>(&loop), sizeof loop) != 0) {
        error = SocketErrorText("discovery wake socket");
        CloseAll();
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool DiscoveryResponder::OpenIpv6() {
    socket6_ = OpenUdp(AF_INET6);
    if (socket6_ == kNoDiscoverySocket) return false;
    // IPv4 stays with its own socket, so that a probe is not seen twice as a mapped address.
    const DWORD on = 1;
    if (::setsockopt(Win(socket6_), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        CloseSocket(socket6_);
        return false;
    }
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = loopbackOnly_ ? in6addr_loopback : in6addr_any;
    any6.sin6_port = htons(boundPort_);
    if (::bind(Win(socket6_), reinterpret_cast<sockaddr*>(&any6), sizeof any6) != 0) {
        CloseSocket(socket6_);
        return false;
    }
    if (loopbackOnly_) return true;  // the multicast group is not loopback
    ipv6_mreq group{};
    if (::inet_pton(AF_INET6, kDiscoveryIpv6Group, &group.ipv6mr_multiaddr) != 1) return true;
    group.ipv6mr_interface = 0;  // the system's choice of interface
    joinedGroup_ = ::setsockopt(Win(socket6_), IPPROTO_IPV6, IPV6_JOIN_GROUP, reinterpret_cast<const char*>(&group),
                                sizeof group) == 0;
    return true;
}

void DiscoveryResponder::Stop() {
    if (thread_.joinable()) {
        sockaddr_in self{};
        int length = sizeof self;
        if (::getsockname(Win(wakeRead_), reinterpret_cast<sockaddr*>(&self), &length) == 0) {
            const char byte = 1;
            ::sendto(Win(wakeRead_), &byte, 1, 0, reinterpret_cast<const sockaddr*>(&self), length);
        }
        thread_.join();
    }
    CloseAll();
}

void DiscoveryResponder::CloseAll() {
    CloseSocket(socket4_);
    CloseSocket(socket6_);
    CloseSocket(wakeRead_);
    CloseSocket(wakeWrite_);
    joinedGroup_ = false;
}

void DiscoveryResponder::Run() {
    WSAPOLLFD fds[3] = {{Win(wakeRead_), POLLRDNORM, 0}, {Win(socket4_), POLLRDNORM, 0}, {Win(socket6_), POLLRDNORM, 0}};
    const ULONG count = socket6_ != kNoDiscoverySocket ? 3 : 2;
    for (;;) {
        const int ready = ::WSAPoll(fds, count, -1);
        if (ready == SOCKET_ERROR) return;  // only on a programming error (bad sockets)
        if (fds[0].revents != 0) return;
        for (ULONG i = 1; i < count; ++i) {
            if (fds[i].revents & POLLNVAL) return;
            if (fds[i].revents != 0) AnswerAll(static_cast<DiscoverySocket>(fds[i].fd));
        }
    }
}

void DiscoveryResponder::AnswerAll(DiscoverySocket fd) {
    char buffer[kDatagramBuffer];
    for (;;) {
        sockaddr_storage from{};
        int fromLength = sizeof from;
        const int n = ::recvfrom(Win(fd), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n == SOCKET_ERROR) {
            // A datagram longer than the buffer (WSAEMSGSIZE) is no probe; WSAECONNRESET reports
            // an ICMP error of an earlier reply. WSAEWOULDBLOCK: drained.
            const int code = ::WSAGetLastError();
            if (code == WSAEMSGSIZE || code == WSAECONNRESET) continue;
            return;
        }
        if (!IsDiscoveryProbe(std::string_view(buffer, static_cast<std::size_t>(n)))) continue;
        // Windows gives the destination only through WSARecvMsg; a loopback sender's probe can only
        // have come to a loopback address or another of this machine's own.
        if (loopbackOnly_ && !IsLoopbackSender(from)) continue;
        if (!limit_.Allow(DiscoverySenderKey(from), DiscoveryRateLimit::Clock::now())) continue;
        const std::string reply = DiscoveryReply(alpacaPort_.load());
        ::sendto(Win(fd), reply.data(), static_cast<int>(reply.size()), 0, reinterpret_cast<const sockaddr*>(&from),
                 fromLength);
    }
}

}  // namespace velq3::alpaca
