// Test helpers: a small Alpaca client and raw-socket requests for malformed HTTP.
#pragma once

#include "common/TestSockets.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HttpClient.h"

namespace velq3::test {

using Json = nlohmann::json;

struct Reply {
    int status = 0;
    std::string contentType;
    std::string body;
    Json json;  // parsed body when it is JSON

    int Error() const { return json.value("ErrorNumber", -1); }
    const Json& Value() const { return json.at("Value"); }
};

class AlpacaClient {
public:
    explicit AlpacaClient(std::uint16_t port) : client_("127.0.0.1", port, 30000) {}

    // GET `path` with the query `query` (already encoded, without '?').
    Reply Get(const std::string& path, const std::string& query = "") {
        return Convert(client_.Get(query.empty() ? path : path + "?" + query));
    }

    // PUT `path` with the form body `form` (already encoded).
    Reply Put(const std::string& path, const std::string& form) {
        return Convert(client_.Put(path, form, "application/x-www-form-urlencoded"));
    }

    Reply Send(const std::string& method, const std::string& path) {
        return Convert(client_.Send(method, path, "", "", {}));
    }

private:
    static Reply Convert(const http::Result& result) {
        Reply reply;
        if (!result) {
            ADD_FAILURE() << "no HTTP reply: " << result.error();
            return reply;
        }
        reply.status = result->status;
        reply.contentType = result->get_header_value("Content-Type");
        reply.body = result->body;
        reply.json = Json::parse(reply.body, nullptr, false);
        if (reply.json.is_discarded()) reply.json = Json();
        return reply;
    }

    http::Client client_;
};

// Sends `bytes` on a new connection to 127.0.0.1:`port` and returns everything the server
// wrote until it closed the connection or `waitMs` passed.
inline std::string RawExchange(std::uint16_t port, const std::string& bytes, int waitMs = 3000) {
    const int fd = http::ConnectLoopback(port);
    std::string got;
    if (fd >= 0) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || WaitSocket(fd, POLLIN, static_cast<int>(left)) <= 0) break;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }
    CloseSocket(fd);
    return got;
}

// One kept-alive connection driven by hand.
class RawConnection {
public:
    explicit RawConnection(std::uint16_t port) : fd_(http::ConnectLoopback(port)) {
        if (fd_ < 0) ADD_FAILURE() << "connect failed";
    }
    ~RawConnection() { CloseSocket(fd_); }

    // Sends a request and reads one reply whose body has a Content-Length ("" on time-out).
    std::string Exchange(const std::string& request, int waitMs = 3000) {
        ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const std::size_t end = got.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::size_t at = got.find("Content-Length: ");
                const std::size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
                if (got.size() >= end + 4 + length) return got;
            }
            if (!ReadSome(got, deadline)) return "";
        }
    }

    // True when the server closes the connection within `waitMs`.
    bool WaitClosed(int waitMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        std::string ignored;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || WaitSocket(fd_, POLLIN, static_cast<int>(left)) <= 0) return false;
            char buf[512];
            if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
        }
    }

private:
    bool ReadSome(std::string& got, std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || WaitSocket(fd_, POLLIN, static_cast<int>(left)) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
};

// The status code of the first HTTP reply in `raw`, or 0.
inline int RawStatus(const std::string& raw) {
    if (raw.rfind("HTTP/1.1 ", 0) != 0 || raw.size() < 12) return 0;
    return std::stoi(raw.substr(9, 3));
}

} // namespace velq3::test
