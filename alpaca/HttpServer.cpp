// The connection loop: wait for a request's first byte (idle time-out), read its head and body
// within one deadline, answer, and go on with the next request already buffered (pipelining).
// A request is read in full, body included, before it is answered, so that a body can never be
// taken for the next request; a request that cannot be read in full is answered 400 and the
// connection closed.
#include "alpaca/HttpServer.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <utility>  // before Asio

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/write.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "alpaca/Protocol.h"

namespace velq3::alpaca {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

// Bytes no header may carry: controls other than tab, and DEL.
bool HasControlBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

using Clock = std::chrono::steady_clock;
constexpr Clock::rep kNoDeadline = 0;
// How often the connections' deadlines are checked.
constexpr auto kSweepPeriod = std::chrono::milliseconds(100);

// The most a refused client's unread bytes are drained before the close, so that the reply is
// not lost to a reset.
constexpr std::size_t kDrainBytes = 256 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(1);

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (SameText(key, name)) return value;
    return std::nullopt;
}

HttpResponse HttpResponse::Text(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.contentType = std::string(kTextType);
    response.body = std::move(body);
    return response;
}

std::optional<HttpResponse> HttpRoutes::Handle(const HttpRequest& request) const {
    for (const Route& route : routes_)
        if (auto response = route(request)) return response;
    return std::nullopt;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ParseFormText(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view item = text.substr(0, amp);
        text.remove_prefix(amp == std::string_view::npos ? text.size() : amp + 1);
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        std::string key, value;
        if (!PercentDecode(item.substr(0, eq), true, key)) return std::nullopt;
        if (eq != std::string_view::npos && !PercentDecode(item.substr(eq + 1), true, value)) return std::nullopt;
        pairs.emplace_back(std::move(key), std::move(value));
    }
    return pairs;
}

class Session;

struct HttpServer::Impl {
    HttpLimits limits;
    Handler handler;
    MayWait mayWait;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::unique_ptr<asio::thread_pool> pool;
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> acceptRetry;
    std::optional<asio::steady_timer> sweep;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};
    std::uint16_t port = 0;

    // Open connections, oldest first, and their count per client address.
    mutable std::mutex mutex;
    std::list<std::weak_ptr<Session>> sessions;
    std::map<asio::ip::address, std::size_t> perAddress;

    Impl(HttpLimits l, Handler h, MayWait m) : limits(l), handler(std::move(h)), mayWait(std::move(m)) {}

    void Accept();
    void Sweep();
    void Admit(tcp::socket socket);
    std::list<std::weak_ptr<Session>>::iterator Register(const std::shared_ptr<Session>& session,
                                                         const asio::ip::address& address);
    void Unregister(std::list<std::weak_ptr<Session>>::iterator at, const asio::ip::address& address);
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(HttpServer::Impl& server, tcp::socket socket, asio::ip::address address)
        : server_(server),
          stream_(std::move(socket)),
          address_(std::move(address)),
          buffer_(server.limits.maxRequestBytes + server.limits.maxHeaderBytes) {}

    ~Session() {
        if (registered_) server_.Unregister(entry_, address_);
    }

    void Start() {
        entry_ = server_.Register(shared_from_this(), address_);
        registered_ = true;
        asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->NextRequest(); });
    }

    // Closes the connection from another thread (the cap or a stop).
    void CloseSoon() {
        asio::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
    }

    bool Idle() const { return idle_; }
    // Whether the step in progress (waiting for a request, reading one, writing a reply,
    // draining) has run out of time.
    bool Expired(Clock::time_point now) const {
        const Clock::rep deadline = deadline_.load(std::memory_order_relaxed);
        return deadline != kNoDeadline && now.time_since_epoch().count() > deadline;
    }
    const asio::ip::address& Address() const { return address_; }
    std::chrono::steady_clock::time_point IdleSince() const { return idleSince_.load(); }

private:
    void NextRequest() {
        if (closed_) return;
        if (server_.stopping) return Close();
        if (buffer_.size() > 0) return ReadHead();  // pipelined: the next request is here already
        SetIdle(true);
        SetDeadline(std::chrono::seconds(server_.limits.keepAliveIdleSeconds));
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](error_code ec, std::size_t n) {
            self->SetIdle(false);
            if (ec) return self->Close();
            self->buffer_.commit(n);
            self->ReadHead();
        });
    }

    void ReadHead() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(server_.limits.maxHeaderBytes));
        parser_->body_limit(server_.limits.maxRequestBytes);
        // One deadline for the whole request from its first byte: a trickled head or a body
        // that never comes cannot hold the connection longer.
        SetDeadline(std::chrono::seconds(server_.limits.readTimeoutSeconds));
        http::async_read_header(stream_, buffer_, *parser_, [self = shared_from_this()](error_code ec, std::size_t) {
            self->OnHead(ec);
        });
    }

    void OnHead(error_code ec) {
        if (ec) return Refuse(ec);
        const auto& req = parser_->get();
        std::size_t count = 0, headBytes = req.method_string().size() + req.target().size();
        for (const auto& field : req) {
            ++count;
            headBytes += field.name_string().size() + field.value().size();
            if (HasControlBytes(View(field.value()))) return Fail(400, "Bad request: control bytes in a header");
        }
        if (count > server_.limits.maxHeaderCount) return Fail(400, "Request too large");
        if (req.version() >= 11 && req.count(http::field::host) != 1) return Fail(400, "Bad request: Host is required");
        if (req.count(http::field::content_length) > 1) return Fail(400, "Bad request: more than one Content-Length");
        if (req.count(http::field::transfer_encoding) > 0) {
            // Only a plain chunked body is read; with a length as well it would be ambiguous.
            if (req.count(http::field::transfer_encoding) > 1 || req.count(http::field::content_length) > 0 ||
                !SameText(View(req[http::field::transfer_encoding]), "chunked"))
                return Fail(400, "Bad request: unsupported Transfer-Encoding");
        }
        if (req.count(http::field::content_encoding) > 0 && !SameText(View(req[http::field::content_encoding]), "identity"))
            return Fail(415, "Encoded request bodies are not accepted");
        // The body shares the request's cap with the head.
        const std::size_t cap = server_.limits.maxRequestBytes;
        if (headBytes >= cap) return Fail(400, "Request too large");
        parser_->body_limit(cap - headBytes);
        if (parser_->content_length() && *parser_->content_length() > cap - headBytes)
            return Fail(400, "Request too large");

        if (parser_->is_done()) return Dispatch();
        if (SameText(View(req[http::field::expect]), "100-continue")) {
            continueReply_.emplace(http::status::continue_, req.version());
            http::async_write(stream_, *continueReply_, [self = shared_from_this()](error_code ec, std::size_t) {
                if (ec) return self->Close();
                self->ReadBody();
            });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](error_code ec, std::size_t) {
            if (ec) return self->Refuse(ec);
            self->Dispatch();
        });
    }

    void Dispatch() {
        deadline_ = kNoDeadline;
        auto req = parser_->release();
        keepAlive_ = req.keep_alive();
        head_ = req.method() == http::verb::head;
        auto request = std::make_shared<HttpRequest>();
        request->method = std::string(req.method_string());
        request->target = std::string(req.target());
        const std::size_t question = request->target.find('?');
        request->path = request->target.substr(0, question);
        if (question != std::string::npos) request->query = request->target.substr(question + 1);
        request->headers.reserve(8);
        for (const auto& field : req) request->headers.emplace_back(field.name_string(), field.value());
        request->body = std::move(req.body());
        request->localPort = server_.port;
        parser_.reset();

        if (server_.mayWait && server_.mayWait(*request)) {
            asio::post(*server_.pool, [self = shared_from_this(), request] {
                HttpResponse response = self->Run(*request);
                asio::post(self->stream_.get_executor(), [self, response = std::move(response)]() mutable {
                    self->Write(std::move(response), self->keepAlive_);
                });
            });
        } else {
            Write(Run(*request), keepAlive_);
        }
    }

    HttpResponse Run(const HttpRequest& request) {
        try {
            return server_.handler(request);
        } catch (const std::exception&) {
            return HttpResponse::Text(500, "Internal server error");
        }
    }

    // The reply's head is written here rather than by Beast's serializer, which costs more than
    // the rest of a read request together; the body follows in the same write.
    void Write(HttpResponse response, bool keepAlive) {
        if (closed_) return;
        std::string& head = replyHead_;
        head.clear();
        head += "HTTP/1.1 ";
        head += std::to_string(response.status);
        head += ' ';
        const beast::string_view reason = http::obsolete_reason(http::int_to_status(static_cast<unsigned>(response.status)));
        head.append(reason.data(), reason.size());
        head += "\r\n";
        auto field = [&head](std::string_view name, std::string_view value) {
            head.append(name);
            head += ": ";
            head.append(value);
            head += "\r\n";
        };
        if (!response.contentType.empty()) field("Content-Type", response.contentType);
        // Only this program's own values come here; a line break would still split the head.
        for (const auto& [name, value] : response.headers)
            if (!HasControlBytes(name) && !HasControlBytes(value)) field(name, value);
        field("Content-Length", std::to_string(response.body.size()));
        if (!keepAlive) field("Connection", "close");
        head += "\r\n";
        // A HEAD gets the length of what a GET would get, without the body.
        replyBody_ = head_ ? std::string() : std::move(response.body);
        head_ = false;
        const std::array<asio::const_buffer, 2> buffers{asio::buffer(replyHead_), asio::buffer(replyBody_)};
        SetDeadline(std::chrono::seconds(server_.limits.readTimeoutSeconds));
        asio::async_write(stream_, buffers, [self = shared_from_this(), keepAlive](error_code ec, std::size_t) {
            std::string().swap(self->replyBody_);  // a page is not kept by an idle connection
            if (ec) return self->Close();
            if (!keepAlive) return self->Drain();
            self->NextRequest();
        });
    }

    // A request that could not be read: a timed-out or vanished peer is just closed, a
    // malformed or oversized request gets its 400 first.
    void Refuse(error_code ec) {
        if (ec == http::error::end_of_stream || ec == asio::error::eof ||
            ec == asio::error::operation_aborted || ec == asio::error::connection_reset)
            return Close();
        if (ec == http::error::header_limit || ec == http::error::body_limit || ec == http::error::buffer_overflow)
            return Fail(400, "Request too large");
        Fail(400, "Bad request");
    }

    void Fail(int status, std::string text) {
        parser_.reset();
        Write(HttpResponse::Text(status, std::move(text)), false);
    }

    // After the last reply: stop sending, read and drop what the peer still sends for a short
    // while, then close. Closing with unread bytes would reset the connection and could destroy
    // the reply before the peer reads it.
    void Drain() {
        error_code ignored;
        stream_.shutdown(tcp::socket::shutdown_send, ignored);
        SetDeadline(kDrainTime);
        DrainSome();
    }

    void DrainSome() {
        if (closed_) return;
        buffer_.clear();
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](error_code ec, std::size_t n) {
            self->drained_ += n;
            if (ec || self->drained_ > kDrainBytes) return self->Close();
            self->DrainSome();
        });
    }

    void Close() {
        if (closed_) return;
        closed_ = true;
        SetIdle(false);
        deadline_ = kNoDeadline;
        error_code ignored;
        stream_.shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close(ignored);
    }

    // Deadlines are checked by the server's sweep rather than a timer per connection, which
    // would cost system calls on every request.
    void SetDeadline(Clock::duration d) {
        deadline_.store((Clock::now() + d).time_since_epoch().count(), std::memory_order_relaxed);
    }

    void SetIdle(bool idle) {
        if (idle) idleSince_ = std::chrono::steady_clock::now();
        idle_ = idle;
    }

    HttpServer::Impl& server_;
    tcp::socket stream_;
    asio::ip::address address_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string replyHead_;
    std::string replyBody_;
    std::optional<http::response<http::empty_body>> continueReply_;
    bool keepAlive_ = true;
    bool head_ = false;  // the request being answered is a HEAD
    bool closed_ = false;
    std::size_t drained_ = 0;
    std::atomic<bool> idle_{false};
    std::atomic<std::chrono::steady_clock::time_point> idleSince_{};
    std::atomic<Clock::rep> deadline_{kNoDeadline};
    bool registered_ = false;
    std::list<std::weak_ptr<Session>>::iterator entry_;
};

void HttpServer::Impl::Accept() {
    // With one I/O thread every connection's handlers already run in turn; a strand each would
    // only add a queue hop to every step.
    const asio::any_io_executor executor =
        limits.ioThreads > 1 ? asio::any_io_executor(asio::make_strand(io)) : asio::any_io_executor(io.get_executor());
    acceptor->async_accept(executor, [this](error_code ec, tcp::socket socket) {
        if (stopping || !acceptor->is_open()) return;
        if (ec) {
            // Out of descriptors or memory: wait a little instead of spinning on the error.
            acceptRetry->expires_after(std::chrono::milliseconds(100));
            acceptRetry->async_wait([this](error_code waitError) {
                if (!waitError && !stopping) Accept();
            });
            return;
        }
        Admit(std::move(socket));
        Accept();
    });
}

// Closes the connections whose step ran out of time.
void HttpServer::Impl::Sweep() {
    sweep->expires_after(kSweepPeriod);
    sweep->async_wait([this](error_code ec) {
        if (ec || stopping) return;
        std::vector<std::weak_ptr<Session>> all;
        {
            std::lock_guard lock(mutex);
            all.assign(sessions.begin(), sessions.end());
        }
        const Clock::time_point now = Clock::now();
        for (const auto& weak : all)
            if (auto session = weak.lock(); session && session->Expired(now)) session->CloseSoon();
        Sweep();
    });
}

void HttpServer::Impl::Admit(tcp::socket socket) {
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) return;
    socket.set_option(tcp::no_delay(true), ec);
    // At a cap, the connection idle for longest makes room; without an idle one the newcomer
    // is refused. Sessions are only looked at outside the lock: the last reference to one may
    // go here, and its end takes the lock.
    bool overall = false, forAddress = false;
    std::vector<std::weak_ptr<Session>> all;
    {
        std::lock_guard lock(mutex);
        overall = sessions.size() >= limits.maxConnections;
        const auto it = perAddress.find(peer.address());
        forAddress = it != perAddress.end() && it->second >= limits.maxConnectionsPerAddress;
        if (overall || forAddress) all.assign(sessions.begin(), sessions.end());
    }
    if (overall || forAddress) {
        std::shared_ptr<Session> oldest;
        for (const auto& weak : all) {
            auto candidate = weak.lock();
            if (!candidate || !candidate->Idle()) continue;
            // The per-address cap picks among that address's own connections.
            if (!overall && candidate->Address() != peer.address()) continue;
            if (!oldest || candidate->IdleSince() < oldest->IdleSince()) oldest = std::move(candidate);
        }
        if (!oldest) {
            socket.close(ec);
            return;
        }
        oldest->CloseSoon();
    }
    std::make_shared<Session>(*this, std::move(socket), peer.address())->Start();
}

std::list<std::weak_ptr<Session>>::iterator HttpServer::Impl::Register(const std::shared_ptr<Session>& session,
                                                                       const asio::ip::address& address) {
    std::lock_guard lock(mutex);
    ++perAddress[address];
    return sessions.insert(sessions.end(), session);
}

void HttpServer::Impl::Unregister(std::list<std::weak_ptr<Session>>::iterator at, const asio::ip::address& address) {
    std::lock_guard lock(mutex);
    sessions.erase(at);
    const auto it = perAddress.find(address);
    if (it != perAddress.end() && --it->second == 0) perAddress.erase(it);
}

HttpServer::HttpServer(HttpLimits limits, Handler handler, MayWait mayWait)
    : impl_(std::make_unique<Impl>(limits, std::move(handler), std::move(mayWait))) {}

HttpServer::~HttpServer() { Stop(); }

std::size_t HttpServer::Connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->sessions.size();
}

bool HttpServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    if (running_) return true;
    Impl& s = *impl_;
    auto fail = [&] {
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                " (the port is taken or the address is not this computer's)";
        s.acceptor.reset();
        return false;
    };
    error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) return fail();
    s.io.restart();
    s.acceptor.emplace(asio::make_strand(s.io));
    const tcp::endpoint endpoint(ip, port);
    s.acceptor->open(endpoint.protocol(), ec);
    if (ec) return fail();
    // A second server on a taken port must fail, not share its clients: on Linux SO_REUSEADDR
    // (only restarts over lingering connections) and not SO_REUSEPORT; on Windows, where
    // SO_REUSEADDR would let a second socket take the port, SO_EXCLUSIVEADDRUSE.
#ifdef _WIN32
    s.acceptor->set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), ec);
#else
    s.acceptor->set_option(asio::socket_base::reuse_address(true), ec);
#endif
    s.acceptor->bind(endpoint, ec);
    if (ec) return fail();
    s.acceptor->listen(s.limits.backlog, ec);
    if (ec) return fail();
    s.port = s.acceptor->local_endpoint(ec).port();
    port_ = s.port;

#ifndef _WIN32  // Windows has no per-process limit of sockets to stay under
    // Room for the server's own descriptors below the process's limit.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY && files.rlim_cur > 128)
        s.limits.maxConnections = std::min<std::size_t>(s.limits.maxConnections, files.rlim_cur - 64);
#endif
    s.limits.maxConnectionsPerAddress = std::min(s.limits.maxConnectionsPerAddress, s.limits.maxConnections);

    s.stopping = false;
    s.acceptRetry.emplace(s.acceptor->get_executor());
    s.sweep.emplace(asio::make_strand(s.io));
    s.pool = std::make_unique<asio::thread_pool>(std::max<std::size_t>(1, s.limits.handlerThreads));
    s.work.emplace(s.io.get_executor());
    s.Accept();
    s.Sweep();
    for (std::size_t i = 0; i < std::max<std::size_t>(1, s.limits.ioThreads); ++i)
        s.threads.emplace_back([&s] { s.io.run(); });
    running_ = true;
    return true;
}

void HttpServer::Stop() {
    if (!running_) return;
    Impl& s = *impl_;
    s.stopping = true;
    asio::post(s.acceptor->get_executor(), [&s] {
        error_code ignored;
        s.acceptor->close(ignored);
        s.acceptRetry->cancel();
    });
    asio::post(s.sweep->get_executor(), [&s] { s.sweep->cancel(); });
    std::vector<std::weak_ptr<Session>> all;
    {
        std::lock_guard lock(s.mutex);
        all.assign(s.sessions.begin(), s.sessions.end());
    }
    for (const auto& weak : all)
        if (auto session = weak.lock()) session->CloseSoon();
    // Handlers that run finish first; their replies then find their connection closed.
    s.pool->join();
    s.work.reset();
    for (std::thread& thread : s.threads) thread.join();
    s.threads.clear();
    s.pool.reset();
    s.acceptor.reset();
    s.acceptRetry.reset();
    s.sweep.reset();
    running_ = false;
}

}  // namespace velq3::alpaca
