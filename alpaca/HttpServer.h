// The HTTP/1.1 engine under the Alpaca face: an asynchronous server with keep-alive and
// pipelining, where an idle connection costs a few kilobytes and no thread. Everything a peer
// controls is bounded: request size, header count, the time a request may take to arrive, the
// idle time of a connection, and the number of connections per client address and in all.
// Handlers that may wait (commands) run on a small pool so that they never hold up the
// connections that only read.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velq3::alpaca {

struct HttpRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;    // target up to '?'
    std::string query;   // after '?', without it
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::uint16_t localPort = 0;  // the port the request came in on

    // The first header named `name` (any casing).
    std::optional<std::string> Header(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type/-Length

    static HttpResponse Text(int status, std::string body);
};

// Extra routes: each returns a response for the requests it serves and nothing for the others;
// the first that answers wins.
class HttpRoutes {
public:
    using Route = std::function<std::optional<HttpResponse>(const HttpRequest&)>;
    void Add(Route route) { routes_.push_back(std::move(route)); }
    std::optional<HttpResponse> Handle(const HttpRequest& request) const;

private:
    std::vector<Route> routes_;
};

struct HttpLimits {
    std::size_t ioThreads = 1;          // threads running the connections' I/O (one measured best)
    std::size_t handlerThreads = 8;     // threads for handlers that may wait
    int keepAliveIdleSeconds = 5;       // a connection with no request in progress is closed after this
    int readTimeoutSeconds = 5;         // a request must arrive in full within this of its first byte
    std::size_t maxRequestBytes = 64 * 1024;  // request line, headers and body together
    std::size_t maxHeaderBytes = 16 * 1024;   // request line and headers
    std::size_t maxHeaderCount = 100;
    std::size_t maxConnections = 2048;        // in all (lowered to fit the descriptor limit)
    std::size_t maxConnectionsPerAddress = 1024;
    int backlog = 1024;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Whether a request's handler may wait (it then runs on the handler pool).
    using MayWait = std::function<bool(const HttpRequest&)>;

    HttpServer(HttpLimits limits, Handler handler, MayWait mayWait = {});
    ~HttpServer();  // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds `address`:`port` (0: a free port) and serves on its own threads. False with a
    // message when the address cannot be bound.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    // Closes every connection and waits for the handlers that run.
    void Stop();

    std::uint16_t Port() const { return port_; }
    bool Running() const { return running_; }
    // Open connections now (for tests and diagnostics).
    std::size_t Connections() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::uint16_t port_ = 0;
    std::atomic<bool> running_{false};
};

// Splits "a=1&b=2" into decoded pairs ('+' is a space); nothing when an escape is broken.
std::optional<std::vector<std::pair<std::string, std::string>>> ParseFormText(std::string_view text);

}  // namespace velq3::alpaca
