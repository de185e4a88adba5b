// The HTTP engine under hostile and crowded conditions: kept-alive clients never starve a new
// one, slow clients are cut off by their deadlines without holding up others, the connection
// cap makes room by closing the connection idle for longest, a body is never parsed as the
// next request, memory stays bounded under floods, and requests that cannot be read safely get
// 400 and a close.
#include "common/TestSockets.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <netinet/tcp.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "AlpacaClient.h"
#include "FakeDevice.h"
#include "alpaca/AlpacaServer.h"

namespace velq3::alpaca {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// One raw connection: bytes in, replies out one at a time (a pipelined stream keeps what
// follows the reply read).
class Peer {
public:
    explicit Peer(std::uint16_t port) : fd_(test::http::ConnectLoopback(port)), connected_(fd_ >= 0) {}
    ~Peer() { test::CloseSocket(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Connected() const { return connected_; }

    // False once the server no longer takes bytes (closed or reset), or after `waitMs` of a full
    // send buffer.
    bool Send(std::string_view bytes, int waitMs = 3000) {
        while (!bytes.empty()) {
            short revents = 0;
            if (test::WaitSocket(fd_, POLLOUT, waitMs, &revents) <= 0 || (revents & (POLLERR | POLLHUP))) return false;
            const long n = test::SendNow(fd_, bytes.data(), bytes.size());
            if (n == 0) continue;
            if (n < 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // The next reply (head and Content-Length body, or the head alone for a HEAD request), ""
    // when none came within `waitMs`.
    std::string Reply(int waitMs = 5000, bool withBody = true) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const std::size_t end = got_.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::string head = got_.substr(0, end);
                std::size_t length = 0;
                const std::size_t at = head.find("Content-Length: ");
                if (at != std::string::npos && withBody) length = std::stoul(head.substr(at + 16));
                if (got_.size() >= end + 4 + length) {
                    std::string reply = got_.substr(0, end + 4 + length);
                    got_.erase(0, end + 4 + length);
                    return reply;
                }
            }
            if (!ReadSome(deadline)) return "";
        }
    }

    // True when the server closes the connection within `waitMs` (replies before it are dropped).
    bool WaitClosed(int waitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (ReadSome(deadline)) {
        }
        return closed_;
    }

private:
    bool ReadSome(Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || test::WaitSocket(fd_, POLLIN, static_cast<int>(left)) <= 0) return false;
        char buf[8192];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        got_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string got_;
};

int StatusOf(const std::string& reply) { return test::RawStatus(reply); }

std::string Get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"; }

// Resident memory of this process in bytes (the working set on Windows).
std::size_t ResidentBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
#else
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
#endif
}

// The highest resident memory seen while it runs, sampled every few milliseconds.
class PeakResident {
public:
    PeakResident() : base_(ResidentBytes()), peak_(base_), thread_([this] {
        while (!stop_) {
            peak_ = std::max(peak_.load(), ResidentBytes());
            std::this_thread::sleep_for(2ms);
        }
    }) {}
    ~PeakResident() { Stop(); }
    // Growth above the start, in bytes.
    std::size_t Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        peak_ = std::max(peak_.load(), ResidentBytes());
        return peak_ > base_ ? peak_ - base_ : 0;
    }

private:
    std::size_t base_;
    std::atomic<std::size_t> peak_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class HttpEngineTest : public ::testing::Test {
protected:
    void Start(ServerLimits limits = {}) {
        server = std::make_unique<AlpacaServer>(ServerDescription{"velq3", "velq3", "1.0", "test bench"}, limits);
        server->AddDevice(device, "11111111-2222-4333-8444-555555555555");
        server->AddRoutes([this](HttpRoutes& routes) {
            routes.Add([this](const HttpRequest& req) -> std::optional<HttpResponse> {
                // Counts the posts that carry a form.
                if (req.path == "/setup" && req.method == "POST") {
                    if (!req.body.empty()) ++setupPosts;
                    return HttpResponse::Text(303, "");
                }
                // A form post that waits until the test lets it go.
                if (req.path == "/setup/slow" && req.method == "POST") {
                    std::unique_lock lock(slowMutex);
                    slowStarted = true;
                    slowChanged.notify_all();
                    slowChanged.wait_for(lock, 20s, [this] { return slowRelease; });
                    return HttpResponse::Text(200, "slow done");
                }
                return std::nullopt;
            });
        });
        std::string error;
        ASSERT_TRUE(server->Start("127.0.0.1", 0, error)) << error;
        port = server->Port();
        connection.connected = true;
    }

    void TearDown() override {
        {
            std::lock_guard lock(slowMutex);
            slowRelease = true;
        }
        slowChanged.notify_all();
        if (server) server->Stop();
    }

    std::vector<int> Sent() {
        std::lock_guard lock(device.mutex);
        return device.sent;
    }

    // A fresh client's GET, answered within a generous bound (a starved server never answers).
    int FreshGet(const std::string& member = "name") {
        Peer peer(port);
        if (!peer.Send(Get("/api/v1/filterwheel/0/" + member))) return 0;
        return StatusOf(peer.Reply(5000));
    }

    FakeConnection connection;
    TestDevice device{connection};
    std::unique_ptr<AlpacaServer> server;
    std::uint16_t port = 0;
    std::atomic<int> setupPosts{0};
    std::mutex slowMutex;
    std::condition_variable slowChanged;
    bool slowStarted = false;
    bool slowRelease = false;
};

TEST_F(HttpEngineTest, KeptAliveClientsNeverStarveANewOne) {
    ServerLimits limits;
    limits.keepAliveIdleSeconds = 60;
    Start(limits);
    for (const int others : {16, 199}) {
        std::vector<std::unique_ptr<Peer>> kept;
        for (int i = 0; i < others; ++i) {
            kept.push_back(std::make_unique<Peer>(port));
            ASSERT_TRUE(kept.back()->Send(Get("/api/v1/filterwheel/0/name")));
            ASSERT_EQ(StatusOf(kept.back()->Reply()), 200) << "client " << i + 1;
        }
        // All of them stay connected and idle; the next client is served, then each of them.
        EXPECT_EQ(FreshGet(), 200) << "client " << others + 1 << " beside " << others;
        for (auto& peer : kept) {
            ASSERT_TRUE(peer->Send(Get("/api/v1/filterwheel/0/position")));
            EXPECT_EQ(StatusOf(peer->Reply()), 200);
        }
    }
}

TEST_F(HttpEngineTest, PipelinedRequestsAreEachAnsweredInOrder) {
    Start();
    Peer peer(port);
    const std::string put = "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 10\r\n\r\nPosition=2";
    ASSERT_TRUE(peer.Send(Get("/api/v1/filterwheel/0/name") + Get("/api/v1/filterwheel/0/names") + put +
                          Get("/api/v1/filterwheel/0/position?ClientTransactionID=9")));
    const std::string first = peer.Reply(), second = peer.Reply(), third = peer.Reply(), fourth = peer.Reply();
    EXPECT_NE(first.find("\"Value\":\"Test wheel\""), std::string::npos) << first;
    EXPECT_NE(second.find("\"Value\":[\"L\",\"R\",\"G\"]"), std::string::npos) << second;
    EXPECT_NE(third.find("\"ErrorNumber\":0"), std::string::npos) << third;
    EXPECT_EQ(third.find("\"Value\""), std::string::npos) << third;
    // The read after the move sees it: the PUT ran before the GET behind it.
    EXPECT_NE(fourth.find("\"Value\":2"), std::string::npos) << fourth;
    EXPECT_NE(fourth.find("\"ClientTransactionID\":9"), std::string::npos) << fourth;
    EXPECT_EQ(Sent(), std::vector<int>{2});
}

TEST_F(HttpEngineTest, AHeadGetsTheLengthWithoutTheBodyAndTheNextRequestFollows) {
    Start();
    Peer peer(port);
    ASSERT_TRUE(peer.Send("HEAD /api/v1/filterwheel/0/name HTTP/1.1\r\nHost: x\r\n\r\n" +
                          Get("/api/v1/filterwheel/0/name")));
    const std::string head = peer.Reply(5000, false), next = peer.Reply();
    const std::string refusal = "Method HEAD is not used by the Alpaca API";
    EXPECT_EQ(head.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(refusal.size()) + "\r\n"), std::string::npos) << head;
    // The GET's reply follows the HEAD's head at once: no body was sent between them.
    EXPECT_EQ(next.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << next;
    EXPECT_NE(next.find("\"Value\":\"Test wheel\""), std::string::npos) << next;
}

TEST_F(HttpEngineTest, ABodyIsNeverTakenForTheNextRequest) {
    Start();
    const std::string smuggledPut = "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\n"
                                    "Content-Length: 10\r\n\r\nPosition=1";
    const std::string smuggledSetup = "POST /setup HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n"
                                      "Content-Length: 34\r\n\r\nAlpacaBind=0.0.0.0&SerialPort=COM1";
    auto withLength = [](const std::string& head, const std::string& body) {
        return head + "Host: x\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    auto chunked = [](const std::string& head, const std::string& body) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx", body.size());
        return head + "Host: x\r\nTransfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + body + "\r\n0\r\n\r\n";
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"GET with a length", withLength("GET /api/v1/filterwheel/0/name HTTP/1.1\r\n", smuggledPut)},
        {"GET with a chunked body", chunked("GET /api/v1/filterwheel/0/name HTTP/1.1\r\n", smuggledPut)},
        {"POST to the API", withLength("POST /api/v1/filterwheel/0/position HTTP/1.1\r\n", smuggledPut)},
        {"GET hiding a setup post", withLength("GET /api/v1/filterwheel/0/name HTTP/1.1\r\n", smuggledSetup)},
        {"GET of a setup page hiding a post", withLength("GET /setup/v1/none HTTP/1.1\r\n", smuggledSetup)},
        {"PUT with a bad body hiding another", withLength("PUT /api/v1/filterwheel/0/position HTTP/1.1\r\n",
                                                          "Position=x" + smuggledPut)},
    };
    for (const Case& c : cases) {
        Peer peer(port);
        ASSERT_TRUE(peer.Send(c.bytes)) << c.what;
        const std::string reply = peer.Reply();
        EXPECT_NE(StatusOf(reply), 0) << c.what;
        // Nothing more comes: the hidden request was read as a body and dropped.
        EXPECT_EQ(peer.Reply(300), "") << c.what;
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(setupPosts.load(), 0);
    // The connection that carried a body goes on serving the next real request.
    Peer peer(port);
    ASSERT_TRUE(peer.Send(withLength("GET /api/v1/filterwheel/0/name HTTP/1.1\r\n", smuggledPut) +
                          Get("/api/v1/filterwheel/0/names")));
    EXPECT_EQ(StatusOf(peer.Reply()), 200);
    EXPECT_NE(peer.Reply().find("\"Value\":[\"L\",\"R\",\"G\"]"), std::string::npos);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(HttpEngineTest, AmbiguousOrUnsafeRequestsGet400AndAClose) {
    Start();
    const std::string put = "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        int status;
    };
    const Case cases[] = {
        {"two differing lengths", put + "Host: x\r\nContent-Length: 10\r\nContent-Length: 0\r\n\r\nPosition=1", 400},
        {"the same length twice", put + "Host: x\r\nContent-Length: 10\r\nContent-Length: 10\r\n\r\nPosition=1", 400},
        {"a length and chunked", put + "Host: x\r\nContent-Length: 15\r\nTransfer-Encoding: chunked\r\n\r\n"
                                       "a\r\nPosition=1\r\n0\r\n\r\n", 400},
        {"another transfer coding", put + "Host: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                                          "a\r\nPosition=1\r\n0\r\n\r\n", 400},
        {"HTTP/1.1 without Host", put + "Content-Length: 10\r\n\r\nPosition=1", 400},
        {"two Hosts", put + "Host: x\r\nHost: y\r\nContent-Length: 10\r\n\r\nPosition=1", 400},
        {"a NUL in a header", put + "Host: x\r\nX-Note: a" + std::string(1, '\0') + "b\r\nContent-Length: 10\r\n\r\nPosition=1",
         400},
        {"a control byte in a header", put + "Host: x\r\nX-Note: a\x01" "b\r\nContent-Length: 10\r\n\r\nPosition=1", 400},
        {"an encoded body", put + "Host: x\r\nContent-Encoding: gzip\r\nContent-Length: 10\r\n\r\nPosition=1", 415},
        {"a chunked body past the cap", put + "Host: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                            std::string("a\r\nPosition=1\r\n") + "10000\r\n" + std::string(65536, 'x') +
                                            "\r\n0\r\n\r\n",
         400},
    };
    for (const Case& c : cases) {
        Peer peer(port);
        ASSERT_TRUE(peer.Send(c.bytes)) << c.what;
        const std::string reply = peer.Reply();
        EXPECT_EQ(StatusOf(reply), c.status) << c.what << ": " << reply.substr(0, 80);
        EXPECT_NE(reply.find("Connection: close"), std::string::npos) << c.what;
        EXPECT_TRUE(peer.WaitClosed(5000)) << c.what;
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(FreshGet(), 200);
}

TEST_F(HttpEngineTest, APutWithoutLengthHasAnEmptyBodyAndAnExpectedBodyIsInvited) {
    Start();
    connection.connected = false;
    Peer peer(port);
    ASSERT_TRUE(peer.Send("PUT /api/v1/filterwheel/0/connect HTTP/1.1\r\nHost: x\r\n\r\n"));
    const std::string reply = peer.Reply();
    EXPECT_EQ(StatusOf(reply), 200) << reply;
    EXPECT_NE(reply.find("\"ErrorNumber\":0"), std::string::npos) << reply;
    EXPECT_TRUE(connection.connected);

    // A client that waits for "100 Continue" before its body gets it.
    ASSERT_TRUE(peer.Send("PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                          "Content-Length: 10\r\n\r\n"));
    EXPECT_EQ(StatusOf(peer.Reply()), 100);
    ASSERT_TRUE(peer.Send("Position=1"));
    EXPECT_NE(peer.Reply().find("\"ErrorNumber\":0"), std::string::npos);
    EXPECT_EQ(Sent(), std::vector<int>{1});
}

TEST_F(HttpEngineTest, SlowClientsAreCutOffWithoutDelayingOthers) {
    ServerLimits limits;
    limits.readTimeoutSeconds = 1;
    limits.keepAliveIdleSeconds = 30;
    Start(limits);
    const std::string head = "GET /api/v1/filterwheel/0/name HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(100, 'a');
    // Heads trickled a byte a second, and bodies that never come.
    std::vector<std::unique_ptr<Peer>> trickling, waiting;
    for (int i = 0; i < 20; ++i) {
        trickling.push_back(std::make_unique<Peer>(port));
        waiting.push_back(std::make_unique<Peer>(port));
        ASSERT_TRUE(waiting.back()->Send("PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\n"
                                         "Content-Length: 10\r\n\r\nPos"));
    }
    const auto start = Clock::now();
    std::vector<bool> cut(trickling.size(), false);
    int served = 0;
    for (std::size_t byte = 0; byte < 4; ++byte) {
        for (std::size_t i = 0; i < trickling.size(); ++i)
            if (!cut[i] && !trickling[i]->Send(head.substr(byte, 1), 100)) cut[i] = true;
        // Meanwhile others are served as usual.
        for (int k = 0; k < 5; ++k) served += FreshGet() == 200;
        std::this_thread::sleep_until(start + std::chrono::seconds(byte + 1));
    }
    EXPECT_EQ(served, 20);
    for (auto& peer : trickling) EXPECT_TRUE(peer->WaitClosed(3000));
    for (auto& peer : waiting) EXPECT_TRUE(peer->WaitClosed(3000));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(HttpEngineTest, AtTheCapTheConnectionIdleForLongestMakesRoom) {
    struct Case {
        const char* what;
        std::size_t total, perAddress;
    };
    for (const Case c : {Case{"in all", 4, 100}, Case{"per address", 100, 4}}) {
        ServerLimits limits;
        limits.keepAliveIdleSeconds = 60;
        limits.maxConnections = c.total;
        limits.maxConnectionsPerAddress = c.perAddress;
        Start(limits);
        // One connection in the middle of a request is not idle and keeps its place.
        Peer busy(port);
        ASSERT_TRUE(busy.Send("GET /api/v1/filterwheel/0/name HTTP/1.1\r\nHost"));
        std::vector<std::unique_ptr<Peer>> idle;
        for (int i = 0; i < 3; ++i) {
            idle.push_back(std::make_unique<Peer>(port));
            ASSERT_TRUE(idle.back()->Send(Get("/api/v1/filterwheel/0/name")));
            ASSERT_EQ(StatusOf(idle.back()->Reply()), 200);
            std::this_thread::sleep_for(20ms);  // distinct idle ages
        }
        EXPECT_EQ(FreshGet(), 200) << c.what;
        EXPECT_TRUE(idle[0]->WaitClosed(3000)) << c.what;
        for (std::size_t i = 1; i < idle.size(); ++i) {
            ASSERT_TRUE(idle[i]->Send(Get("/api/v1/filterwheel/0/name")));
            EXPECT_EQ(StatusOf(idle[i]->Reply()), 200) << c.what << " connection " << i;
        }
        ASSERT_TRUE(busy.Send(": x\r\n\r\n"));
        EXPECT_EQ(StatusOf(busy.Reply()), 200) << c.what;
        server->Stop();
    }
}

TEST_F(HttpEngineTest, MemoryStaysBoundedUnderFloods) {
    ServerLimits limits;
    limits.readTimeoutSeconds = 2;
    Start(limits);
    const std::size_t flood = 48u << 20;  // per connection
    const std::string headerLine = "X-Fill: " + std::string(8 * 1024, 'h') + "\r\n";
    const std::string chunk = "2000\r\n" + std::string(0x2000, 'c') + "\r\n";
    const std::string filler(64 * 1024, 'z');
    struct Case {
        const char* what;
        std::string head;
        const std::string& repeat;
    };
    const Case cases[] = {
        {"header lines", "GET /api/v1/filterwheel/0/name HTTP/1.1\r\nHost: x\r\n", headerLine},
        {"a chunked body", "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
         chunk},
        {"a setup post without a length", "POST /setup HTTP/1.1\r\nHost: x\r\n\r\nAlpacaBind=0.0.0.0&", filler},
        {"a declared huge length", "PUT /api/v1/filterwheel/0/position HTTP/1.1\r\nHost: x\r\nContent-Length: 300000000\r\n\r\n",
         filler},
    };
    for (const Case& c : cases) {
        PeakResident peak;
        std::vector<std::thread> senders;
        for (int k = 0; k < 4; ++k) {
            senders.emplace_back([&] {
                Peer peer(port);
                if (!peer.Send(c.head)) return;
                for (std::size_t sent = 0; sent < flood; sent += c.repeat.size())
                    if (!peer.Send(c.repeat, 3000)) break;
                peer.WaitClosed(3000);
            });
        }
        for (auto& t : senders) t.join();
        const std::size_t growth = peak.Stop();
        EXPECT_LT(growth, 16u << 20) << c.what << ": resident memory grew by " << (growth >> 20) << " MB";
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(setupPosts.load(), 0);
    EXPECT_EQ(FreshGet(), 200);
}

TEST_F(HttpEngineTest, ACommandThatWaitsDoesNotHoldUpReads) {
    Start();
    Peer slow(port);
    ASSERT_TRUE(slow.Send("POST /setup/slow HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n"));
    {
        std::unique_lock lock(slowMutex);
        ASSERT_TRUE(slowChanged.wait_for(lock, 5s, [this] { return slowStarted; }));
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(FreshGet(), 200);
    {
        std::lock_guard lock(slowMutex);
        slowRelease = true;
    }
    slowChanged.notify_all();
    EXPECT_EQ(StatusOf(slow.Reply()), 200);
}

TEST(FormText, SplitsAndDecodes) {
    const auto pairs = ParseFormText("a=1&b=x+y%21&&c&d=");
    ASSERT_TRUE(pairs);
    const std::vector<std::pair<std::string, std::string>> expected = {{"a", "1"}, {"b", "x y!"}, {"c", ""}, {"d", ""}};
    EXPECT_EQ(*pairs, expected);
    EXPECT_FALSE(ParseFormText("a=%G1"));
}

}  // namespace
}  // namespace velq3::alpaca
