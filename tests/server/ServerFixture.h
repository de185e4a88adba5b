// In-process server tests: a main loop on its own thread (the server's main thread), the five
// driver classes over a device object without a port, a test class, and the transport serving
// them on a socket in a temporary folder. Clients call from the test's thread.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "automation/AutomationFixture.h"
#include "automation/ClassObject.h"
#include "automation/ClassTable.h"
#include "automation/RemoteClient.h"
#include "automation/RemoteWire.h"
#include "automation/TransportServer.h"
#include "drivers/DriverClasses.h"
#include "drivers/DriverFixture.h"

namespace velq3::test {

// A PollMainLoop running on a thread of its own.
class LoopThread {
public:
    LoopThread() : m_Thread([this] { m_Loop.Run(); }) { m_Id = m_Thread.get_id(); }
    ~LoopThread() {
        m_Loop.Quit();
        m_Thread.join();
    }

    MainLoop& Loop() { return m_Loop; }
    std::thread::id Id() const { return m_Id; }

    // Runs `work` on the loop's thread and returns its result.
    template <class F>
    auto Run(F work) -> decltype(work()) {
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        m_Loop.PostTask([&task] { task(); });
        return result.get();
    }

private:
    PollMainLoop m_Loop;
    std::thread m_Thread;
    std::thread::id m_Id;
};

// Waits up to `timeout` for `done` to hold.
template <class F>
bool WaitFor(F done, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The test class: a focuser whose Move notes the thread it runs on, created by a class object
// that fails creation with error information once `refuse` is set.
struct ProbeContext {
    TypeLibLoader& loader;
    std::vector<std::thread::id> threads;
    std::vector<std::int32_t> moves;
};

class ProbeFocuser : public FakeFocuser {
public:
    explicit ProbeFocuser(ProbeContext& ctx) : FakeFocuser(ctx.loader), m_Ctx(ctx) {}
    HRESULT Move(std::int32_t p) override {
        m_Ctx.threads.push_back(std::this_thread::get_id());
        m_Ctx.moves.push_back(p);
        return S_OK;
    }

private:
    ProbeContext& m_Ctx;
};

inline constexpr CLSID kProbeClsid = GuidLiteral("{5C4F0E1A-0000-4000-8000-00000000AB01}");
inline constexpr CLSID kRefusingClsid = GuidLiteral("{5C4F0E1A-0000-4000-8000-00000000AB02}");

// Creation that always fails, with error information.
class RefusingFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT CreateInstance(IUnknown*, const IID&, void** object) override {
        *object = nullptr;
        return ReportError(IID_IClassFactory, "Test.Refusing", "no more objects today", E_OUTOFMEMORY);
    }
    HRESULT LockServer(bool) override { return S_OK; }
    ULONG refs = 0;
};

class TransportTest : public AutomationTest {
protected:
    void SetUp() override {
        fw.SetSink([](std::string_view) {});
        RegisterLibrary();
        socketPath = dir.file("automation.sock");
        loop.Run([this] {
            for (const DriverClass& c : DriverClasses()) {
                ComPtr<IUnknown> factory;
                ASSERT_EQ(GetDriverClassObject(ctx, c.clsid, IID_IUnknown, factory.PutVoid()), S_OK);
                ClassTable::Cookie cookie;
                table.Register(c.clsid, factory.Get(), &cookie);
            }
            ClassTable::Cookie cookie;
            table.Register(kProbeClsid, new ClassObject<ProbeFocuser, ProbeContext>(module, probe, false), &cookie);
            table.Register(kRefusingClsid, new RefusingFactory, &cookie);
        });
        std::string error;
        ASSERT_EQ(server.Start(socketPath, &error), TransportServer::StartResult::Started) << error;
    }
    void TearDown() override {
        loop.Run([this] {
            server.Stop();
            table.RevokeAll();
        });
    }

    std::shared_ptr<RemoteConnection> Connect() {
        std::shared_ptr<RemoteConnection> c;
        EXPECT_EQ(RemoteConnection::Connect(socketPath, &c), S_OK);
        return c;
    }

    template <class I>
    ComPtr<I> Create(RemoteConnection& c, const CLSID& clsid) {
        ComPtr<I> p;
        EXPECT_EQ(c.CreateInstance(clsid, kIidOf<I>, p.PutVoid()), S_OK);
        return p;
    }

    std::int32_t Count() { return module.Count(); }
    std::size_t Handles() { return loop.Run([this] { return server.HandleCount(); }); }

    OrnFilterWheel fw{DeviceEnvironment{nullptr, nullptr, nullptr, [this](int n) { return dir.file("tty" + std::to_string(n)); }}};
    RecordingWindow window;
    DriverContext ctx{fw, window, loader, module};
    ProbeContext probe{loader, {}, {}};
    ClassTable table;
    LoopThread loop;
    TransportServer server{table, loop.Loop(), VelqTypeLib()};
    std::filesystem::path socketPath;
};

// A client that speaks the wire format by hand, for malformed and abandoned requests.
class RawClient {
public:
    explicit RawClient(const std::filesystem::path& path) {
        m_Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(::connect(m_Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        timeval tv{3, 0};
        ::setsockopt(m_Fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawClient() { Close(); }

    void Close() {
        if (m_Fd >= 0) ::close(m_Fd);
        m_Fd = -1;
    }
    void Send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::send(m_Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Sends what the socket takes now without waiting: the count, or -1 when it takes nothing.
    ssize_t SendSome(const std::vector<std::uint8_t>& bytes) {
        return ::send(m_Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    // A frame around `body`.
    static std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> body) {
        const auto n = static_cast<std::uint32_t>(body.size());
        body.insert(body.begin(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                   static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)});
        return body;
    }
    // The next reply, or nothing when the connection closed (or nothing came in 3 s).
    std::optional<rpc::Reply> Receive() {
        std::uint8_t header[4];
        if (!ReceiveAll(header, 4)) return std::nullopt;
        const auto n = rpc::BodyLength(header);
        if (!n) return std::nullopt;
        std::vector<std::uint8_t> body(*n);
        if (!ReceiveAll(body.data(), body.size())) return std::nullopt;
        rpc::Reply r;
        EXPECT_EQ(rpc::DecodeReply(body, r), S_OK);
        return r;
    }
    rpc::Reply Call(rpc::Request q) {
        Send(rpc::EncodeRequest(q));
        auto r = Receive();
        EXPECT_TRUE(r);
        return r.value_or(rpc::Reply{});
    }
    // True when the server closed the connection.
    bool ClosedByServer() {
        std::uint8_t b;
        return ::recv(m_Fd, &b, 1, 0) == 0;
    }

private:
    bool ReceiveAll(std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::recv(m_Fd, p, n, 0);
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    int m_Fd = -1;
};

inline rpc::Request MakeRequest(rpc::Op op) {
    rpc::Request q;
    q.op = static_cast<std::uint8_t>(op);
    q.callId = 77;
    return q;
}

} // namespace velq3::test
