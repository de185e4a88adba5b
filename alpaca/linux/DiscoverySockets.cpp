// Alpaca discovery responder on Linux: one thread waiting in poll() on the IPv4 socket, the IPv6
// socket and a wake pipe that Stop() writes to.
#include "alpaca/Discovery.h"

#include "alpaca/DiscoverySender.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velq3::alpaca {

namespace {

// A probe is 16 bytes; anything longer is no probe.
constexpr std::size_t kDatagramBuffer = 64;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool SetReuse(int fd) {
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
           ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0;
}

// True when the datagram came from a loopback address to a loopback address (127.0.0.0/8, the
// loopback broadcast included, or ::1). The destination comes from the packet-info message.
bool LoopbackDatagram(const sockaddr_storage& from, msghdr& message) {
    if (!IsLoopbackSender(from)) return false;
    // The IPv6 socket of a loopback-only responder is bound to ::1.
    if (from.ss_family != AF_INET) return true;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return IsLoopbackIpv4(info.ipi_addr);
        }
    }
    return false;  // no destination known: not answered
}

}  // namespace

bool DiscoveryResponder::Start(std::string& error) {
    if (thread_.joinable()) {
        error = "the discovery responder is already running";
        return false;
    }
    socket4_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket4_ < 0) {
        error = ErrnoText("discovery socket");
        return false;
    }
    if (!SetReuse(socket4_)) {
        error = ErrnoText("discovery socket options");
        CloseAll();
        return false;
    }
    // The destination of each datagram, to tell loopback probes from others.
    const int on = 1;
    if (loopbackOnly_ && ::setsockopt(socket4_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        error = ErrnoText("discovery socket options");
        CloseAll();
        return false;
    }
    // INADDR_ANY: a socket bound to one address gets no broadcasts (127.255.255.255 included).
    sockaddr_in any4{};
    any4.sin_family = AF_INET;
    any4.sin_addr.s_addr = htonl(INADDR_ANY);
    any4.sin_port = htons(requestedPort_);
    if (::bind(socket4_, reinterpret_cast<sockaddr*>(&any4), sizeof any4) != 0) {
        error = ErrnoText(("discovery port " + std::to_string(requestedPort_)).c_str());
        CloseAll();
        return false;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(socket4_, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        error = ErrnoText("discovery socket name");
        CloseAll();
        return false;
    }
    boundPort_ = ntohs(bound.sin_port);

    OpenIpv6();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = ErrnoText("discovery wake pipe");
        CloseAll();
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool DiscoveryResponder::OpenIpv6() {
    socket6_ = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket6_ < 0) return false;
    // IPv4 stays with its own socket, so that a probe is not seen twice as a mapped address.
    const int on = 1;
    if (!SetReuse(socket6_) ||
        ::setsockopt(socket6_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        CloseFd(socket6_);
        return false;
    }
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = loopbackOnly_ ? in6addr_loopback : in6addr_any;
    any6.sin6_port = htons(boundPort_);
    if (::bind(socket6_, reinterpret_cast<sockaddr*>(&any6), sizeof any6) != 0) {
        CloseFd(socket6_);
        return false;
    }
    if (loopbackOnly_) return true;  // the multicast group is not loopback
    ipv6_mreq group{};
    if (::inet_pton(AF_INET6, kDiscoveryIpv6Group, &group.ipv6mr_multiaddr) != 1) return true;
    // Join on every interface that takes it; the kernel's default choice covers only one.
    if (struct if_nameindex* interfaces = ::if_nameindex()) {
        for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
            group.ipv6mr_interface = i->if_index;
            if (::setsockopt(socket6_, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group) == 0)
                joinedGroup_ = true;
        }
        ::if_freenameindex(interfaces);
    }
    if (!joinedGroup_) {
        group.ipv6mr_interface = 0;
        joinedGroup_ =
            ::setsockopt(socket6_, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group) == 0;
    }
    return true;
}

void DiscoveryResponder::Stop() {
    if (thread_.joinable()) {
        const char byte = 1;
        // The pipe is non-blocking and read only here; a full pipe still wakes the thread.
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    CloseAll();
}

void DiscoveryResponder::CloseAll() {
    CloseFd(socket4_);
    CloseFd(socket6_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    joinedGroup_ = false;
}

void DiscoveryResponder::Run() {
    pollfd fds[3] = {{wakeRead_, POLLIN, 0}, {socket4_, POLLIN, 0}, {socket6_, POLLIN, 0}};
    const nfds_t count = socket6_ >= 0 ? 3 : 2;
    for (;;) {
        const int ready = ::poll(fds, count, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;  // only on a programming error (bad descriptors); nothing to answer then
        }
        if (fds[0].revents != 0) return;
        for (nfds_t i = 1; i < count; ++i) {
            if (fds[i].revents & POLLNVAL) return;
            // A pending socket error (POLLERR) is cleared by the reads too; leaving it would make
            // poll() return at once, again and again.
            if (fds[i].revents != 0) AnswerAll(fds[i].fd);
        }
    }
}

void DiscoveryResponder::AnswerAll(int fd) {
    char buffer[kDatagramBuffer];
    for (;;) {
        sockaddr_storage from{};
        iovec data{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo))];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            // EAGAIN: drained. Other errors (an ICMP error queued by an earlier reply) belong to
            // no probe; the next poll() reports new datagrams.
            return;
        }
        // A datagram longer than the buffer is cut (MSG_TRUNC) and is no probe either.
        if ((message.msg_flags & MSG_TRUNC) != 0 ||
            !IsDiscoveryProbe(std::string_view(buffer, static_cast<std::size_t>(n))))
            continue;
        if (loopbackOnly_ && !LoopbackDatagram(from, message)) continue;
        if (!limit_.Allow(DiscoverySenderKey(from), DiscoveryRateLimit::Clock::now())) continue;
        const std::string reply = DiscoveryReply(alpacaPort_.load());
        // A reply that cannot be sent (the asker is gone) is dropped, as UDP would drop it anyway.
        ::sendto(fd, reply.data(), reply.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&from), message.msg_namelen);
    }
}

}  // namespace velq3::alpaca
