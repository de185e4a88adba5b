// Socket calls for test helpers that run on Linux and, cross-compiled, under Wine: the few
// places where Winsock differs (closing, waiting, option types, Winsock start-up).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // Winsock raises no signal on a closed connection
#endif
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstddef>

namespace velq3::test {

// A new socket as an int (Winsock's handles are small values that fit), -1 on failure.
inline int OpenSocket(int family, int type) {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) return -1;
    const SOCKET s = ::socket(family, type, 0);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
    return ::socket(family, type | SOCK_CLOEXEC, 0);
#endif
}

inline void CloseSocket(int fd) {
    if (fd < 0) return;
#ifdef _WIN32
    ::closesocket(static_cast<SOCKET>(fd));
#else
    ::close(fd);
#endif
}

// Waits up to `timeoutMs` for `events` (POLLIN, POLLOUT) on the socket: poll()'s result, with
// the returned events in `revents` when given.
inline int WaitSocket(int fd, short events, int timeoutMs, short* revents = nullptr) {
#ifdef _WIN32
    WSAPOLLFD p{static_cast<SOCKET>(fd), events, 0};
    const int ready = ::WSAPoll(&p, 1, timeoutMs);
#else
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
#endif
    if (revents) *revents = p.revents;
    return ready;
}

// Sends without waiting: the bytes taken (possibly fewer), 0 when the send buffer is full now,
// -1 when the connection is gone.
inline long SendNow(int fd, const char* data, std::size_t size) {
#ifdef _WIN32
    u_long nonBlocking = 1;
    ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &nonBlocking);
    const int n = ::send(static_cast<SOCKET>(fd), data, static_cast<int>(size), 0);
    nonBlocking = 0;
    ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &nonBlocking);
    if (n == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n;
#else
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return static_cast<long>(n);
#endif
}

inline int SetIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace velq3::test
