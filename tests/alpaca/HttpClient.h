// A small blocking HTTP/1.1 client for tests and benchmarks: one kept-alive connection to a
// loopback port, replies with Content-Length or read until the close, time-outs on every
// step. A request on a kept-alive connection the server has closed meanwhile is sent again
// once on a new one.
#pragma once

#include "common/TestSockets.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace velq3::test::http {

// A new TCP connection to 127.0.0.1:`port` with Nagle off, or -1 when nothing accepts it.
inline int ConnectLoopback(std::uint16_t port) {
    const int fd = OpenSocket(AF_INET, SOCK_STREAM);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        CloseSocket(fd);
        return -1;
    }
    return fd;
}

using Params = std::multimap<std::string, std::string>;
using Headers = std::multimap<std::string, std::string>;

inline std::string FormEncode(const Params& params) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const auto& [key, value] : params) {
        if (!out.empty()) out += '&';
        for (const std::string* text : {&key, &value}) {
            for (const char c : *text) {
                const auto u = static_cast<unsigned char>(c);
                if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
                    out += c;
                } else {
                    out += '%';
                    out += hex[u >> 4];
                    out += hex[u & 15];
                }
            }
            if (text == &key) out += '=';
        }
    }
    return out;
}

struct Response {
    int status = 0;
    Headers headers;  // names in lower case
    std::string body;

    std::string get_header_value(std::string name) const {
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A reply, or what went wrong.
class Result {
public:
    Result(std::optional<Response> response, std::string error)
        : response_(std::move(response)), error_(std::move(error)) {}
    explicit operator bool() const { return response_.has_value(); }
    const Response* operator->() const { return &*response_; }
    const Response& operator*() const { return *response_; }
    const std::string& error() const { return error_; }

private:
    std::optional<Response> response_;
    std::string error_;
};

class Client {
public:
    Client(std::string host, int port, int readTimeoutMs = 30000)
        : host_(std::move(host)), port_(port), readTimeoutMs_(readTimeoutMs) {}
    ~Client() { Disconnect(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    Client(Client&& other) noexcept
        : host_(std::move(other.host_)), port_(other.port_), readTimeoutMs_(other.readTimeoutMs_), fd_(other.fd_) {
        other.fd_ = -1;
    }

    void SetReadTimeoutMs(int ms) { readTimeoutMs_ = ms; }
    // Closes the kept-alive connection (the next request opens a new one).
    void Close() { Disconnect(); }

    Result Get(const std::string& target, const Headers& headers = {}) { return Send("GET", target, "", "", headers); }
    Result Put(const std::string& target, const std::string& body, const std::string& contentType) {
        return Send("PUT", target, body, contentType, {});
    }
    Result Put(const std::string& target, const Params& form) {
        return Send("PUT", target, FormEncode(form), "application/x-www-form-urlencoded", {});
    }
    Result Post(const std::string& target, const Headers& headers, const Params& form) {
        return Send("POST", target, FormEncode(form), "application/x-www-form-urlencoded", headers);
    }

    Result Send(const std::string& method, const std::string& target, const std::string& body,
                const std::string& contentType, const Headers& headers) {
        // A Host among `headers` replaces the one naming the address connected to.
        std::string request = method + " " + target + " HTTP/1.1\r\n";
        if (headers.count("Host") == 0) request += "Host: " + host_ + ":" + std::to_string(port_) + "\r\n";
        for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
        if (!contentType.empty()) request += "Content-Type: " + contentType + "\r\n";
        if (!body.empty() || method == "PUT" || method == "POST")
            request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        request += "\r\n" + body;
        // A kept-alive connection may have been closed by the server while it was idle.
        const bool reused = fd_ >= 0;
        bool nothingRead = false;
        Result result = Exchange(request, nothingRead);
        if (!result && reused && nothingRead) result = Exchange(request, nothingRead);
        return result;
    }

private:
    Result Exchange(const std::string& request, bool& nothingRead) {
        nothingRead = true;
        if (fd_ < 0 && !Connect()) return Fail("cannot connect");
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;  // the reply may still say why (a refused oversized request)
            sent += static_cast<std::size_t>(n);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readTimeoutMs_);
        std::string got;
        bool closed = false;
        for (;;) {
            const std::size_t end = got.find("\r\n\r\n");
            if (end != std::string::npos) {
                Response response;
                if (!ParseHead(got.substr(0, end), response)) return Fail("malformed reply");
                const std::string length = response.get_header_value("content-length");
                if (!length.empty()) {
                    const std::size_t size = std::stoul(length);
                    if (got.size() >= end + 4 + size) {
                        response.body = got.substr(end + 4, size);
                        if (response.get_header_value("connection") == "close") Disconnect();
                        return Result(std::move(response), "");
                    }
                } else if (closed) {
                    response.body = got.substr(end + 4);
                    Disconnect();
                    return Result(std::move(response), "");
                }
            }
            if (closed) return Fail(got.empty() ? "connection closed" : "reply cut short");
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || WaitSocket(fd_, POLLIN, static_cast<int>(left)) <= 0) return Fail("read time-out");
            char buf[16384];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed = true;
                continue;
            }
            nothingRead = false;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }

    static bool ParseHead(const std::string& head, Response& response) {
        if (head.rfind("HTTP/1.", 0) != 0 || head.size() < 12) return false;
        response.status = std::stoi(head.substr(9, 3));
        std::size_t at = head.find("\r\n");
        while (at != std::string::npos) {
            const std::size_t next = head.find("\r\n", at + 2);
            const std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
                std::size_t v = colon + 1;
                while (v < line.size() && line[v] == ' ') ++v;
                response.headers.emplace(name, line.substr(v));
            }
            at = next;
        }
        return true;
    }

    bool Connect() {
        fd_ = OpenSocket(AF_INET, SOCK_STREAM);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port_));
        ::inet_pton(AF_INET, host_ == "localhost" ? "127.0.0.1" : host_.c_str(), &addr.sin_addr);
        SetIntOption(fd_, IPPROTO_TCP, TCP_NODELAY, 1);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            Disconnect();
            return false;
        }
        return true;
    }

    void Disconnect() {
        CloseSocket(fd_);
        fd_ = -1;
    }

    Result Fail(std::string what) {
        Disconnect();
        return Result(std::nullopt, std::move(what));
    }

    std::string host_;
    int port_;
    int readTimeoutMs_;
    int fd_ = -1;
};

}  // namespace velq3::test::http
