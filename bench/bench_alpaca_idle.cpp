// A fresh client beside many idle kept-alive connections: opens CONNECTIONS connections to a
// running Alpaca server, each sending one GET and then staying open and silent, then a new
// client sends REQUESTS sequential GETs on one connection. Reports their p50, p99 and maximum,
// the time-outs (2 s each), how many idle connections were answered, and the server's resident
// memory before and with the connections open.
// Usage: bench_alpaca_idle --port P --pid PID [--connections N] [--requests N]
// Targets: no time-out, p99 <= 1 ms, resident memory with the connections within 20 MB of idle.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "alpaca/HttpClient.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Reads until a reply head arrives (or `ms` pass); true when one did.
bool AwaitReply(int fd, int ms) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (got.find("\r\n\r\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0, pid = 0, connections = 1000, requests = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--port") port = value;
        else if (key == "--pid") pid = value;
        else if (key == "--connections") connections = value;
        else if (key == "--requests") requests = value;
    }
    if (port <= 0 || pid <= 0) {
        std::fprintf(stderr, "usage: bench_alpaca_idle --port P --pid PID [--connections N] [--requests N]\n");
        return 2;
    }
    const std::string request = "GET /api/v1/focuser/0/position?ClientID=5 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const long idleKb = ResidentKb(pid);

    // Open them all first, then send the first request on each, then collect the replies with
    // a short wait each: a server that serves only a few at a time answers only those.
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i) {
        const int fd = velq3::test::http::ConnectLoopback(static_cast<std::uint16_t>(port));
        if (fd < 0) break;
        fds.push_back(fd);
    }
    for (int fd : fds) ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    int answered = 0;
    const auto collectUntil = Clock::now() + std::chrono::seconds(5);
    for (int fd : fds) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(collectUntil - Clock::now()).count();
        answered += AwaitReply(fd, static_cast<int>(std::max<long long>(left, 10)));
    }
    const long openKb = ResidentKb(pid);

    velq3::test::http::Client client("127.0.0.1", port, 2000);
    std::vector<double> micros;
    int timeouts = 0, errors = 0;
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        const auto reply = client.Get("/api/v1/focuser/0/position?ClientID=6&ClientTransactionID=" + std::to_string(i + 1));
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (!reply) {
            ++timeouts;
            continue;
        }
        if (reply->status != 200) ++errors;
        micros.push_back(us);
    }
    for (int fd : fds) ::close(fd);

    const double p50 = Percentile(micros, 0.5), p99 = Percentile(micros, 0.99);
    const double max = micros.empty() ? 0.0 : *std::max_element(micros.begin(), micros.end());
    const double growthMb = static_cast<double>(openKb - idleKb) / 1024.0;
    std::printf("%zu idle connections open, %d of them answered their first request\n", fds.size(), answered);
    std::printf("fresh client, %d sequential GETs: p50 %.0f us, p99 %.0f us, max %.0f us, %d time-outs, %d errors\n",
                requests, p50, p99, max, timeouts, errors);
    std::printf("resident memory: %.1f MB idle, %.1f MB with the connections (+%.1f MB)\n", idleKb / 1024.0,
                openKb / 1024.0, growthMb);
    const bool met = timeouts == 0 && errors == 0 && p99 <= 1000.0 && growthMb <= 20.0 &&
                     answered == static_cast<int>(fds.size()) && static_cast<int>(fds.size()) == connections;
    std::printf("targets (all answered, no time-out, p99 <= 1 ms, +20 MB at most): %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}
