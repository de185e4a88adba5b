// The transport's server: the lock and the socket, the I/O thread (framing only) and the calls
// carried out on the main loop's thread against each connection's object table.
#include "automation/TransportServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "automation/RemoteWire.h"
#include "automation/TransportPaths.h"

namespace velq3 {

using rpc::Handle;
using rpc::Op;

namespace {

// One interface pointer a connection holds: the object's identity keeps it alive; the
// IDispatch and ISupportErrorInfo pointers are there when the interface is called that way.
struct ObjectEntry {
    ComPtr<IUnknown> identity;
    IID iid;
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> supportErrorInfo;
    std::uint32_t refs = 1;
};

struct ConnectionObjects {
    std::map<Handle, ObjectEntry> objects;
    Handle nextHandle = 1;
    std::map<CLSID, std::uint32_t> serverLocks;  // LockServer(true) calls not yet undone
};

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void Wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

} // namespace

struct TransportServer::Shared {
    Shared(ClassTable& c, const TypeLib& l) : classes(c), marshalled(l) {}

    ClassTable& classes;
    const TypeLib& marshalled;

    // Loop thread only.
    bool stopped = false;
    std::map<std::uint64_t, ConnectionObjects> connections;

    // Ends of calls, from the loop thread to the I/O thread: the part of the reply that the
    // loop thread could not send at once (usually nothing).
    std::mutex mutex;
    std::deque<std::pair<std::uint64_t, std::vector<std::uint8_t>>> replies;
    int wakeFd = -1;

    // The sockets of open connections. The loop thread sends a reply itself, saving a thread
    // switch on every call; the I/O thread removes a socket here before it closes it.
    std::mutex socketsMutex;
    std::map<std::uint64_t, int> sockets;

    // On the loop thread: sends what it can of `bytes` without waiting and hands the rest,
    // with the end of the call, to the I/O thread.
    void Reply(std::uint64_t connection, std::vector<std::uint8_t> bytes);

    rpc::Reply Execute(std::uint64_t connection, const rpc::Request& request);
    void Drop(std::uint64_t connection);

private:
    Handle AddEntry(ConnectionObjects& c, ComPtr<IUnknown> identity, const IID& iid);
    ObjectEntry* Find(ConnectionObjects& c, Handle h) {
        auto it = c.objects.find(h);
        return it == c.objects.end() ? nullptr : &it->second;
    }
};

Handle TransportServer::Shared::AddEntry(ConnectionObjects& c, ComPtr<IUnknown> identity, const IID& iid) {
    for (auto& [h, e] : c.objects) {
        if (e.identity.Get() == identity.Get() && e.iid == iid) {
            ++e.refs;
            return h;
        }
    }
    ObjectEntry e;
    e.iid = iid;
    if (iid == IID_IDispatch || marshalled.FindInterface(iid)) identity.As(e.dispatch);
    if (iid == IID_ISupportErrorInfo) identity.As(e.supportErrorInfo);
    e.identity = std::move(identity);
    Handle h = c.nextHandle++;
    if (h == 0) h = c.nextHandle++;
    c.objects.emplace(h, std::move(e));
    return h;
}

rpc::Reply TransportServer::Shared::Execute(std::uint64_t connection, const rpc::Request& q) {
    rpc::Reply r;
    r.op = q.op;
    r.callId = q.callId;
    ConnectionObjects& c = connections[connection];
    SetErrorInfo(std::nullopt);  // what this call reports, nothing older
    switch (static_cast<Op>(q.op)) {
    case Op::CreateInstance: {
        ComPtr<IClassFactory> factory;
        r.hr = classes.GetClassObject(q.clsid, IID_IClassFactory, factory.PutVoid());
        if (Failed(r.hr)) break;
        ComPtr<IUnknown> object;
        r.hr = factory->CreateInstance(nullptr, q.iid, object.PutVoid());
        if (Failed(r.hr)) break;
        ComPtr<IUnknown> identity;
        r.hr = object.As(identity);
        if (Succeeded(r.hr)) r.handle = AddEntry(c, std::move(identity), q.iid);
        break;
    }
    case Op::QueryInterface: {
        ObjectEntry* e = Find(c, q.handle);
        if (!e) { r.hr = RPC_E_DISCONNECTED; break; }
        ComPtr<IUnknown> asked;
        r.hr = e->identity->QueryInterface(q.iid, asked.PutVoid());
        if (Succeeded(r.hr)) r.handle = AddEntry(c, e->identity, q.iid);
        break;
    }
    case Op::AddRef: {
        ObjectEntry* e = Find(c, q.handle);
        if (!e) { r.hr = RPC_E_DISCONNECTED; break; }
        if (e->refs < UINT32_MAX) ++e->refs;
        r.count = e->refs;
        break;
    }
    case Op::Release: {
        auto it = c.objects.find(q.handle);
        if (it == c.objects.end()) { r.hr = RPC_E_DISCONNECTED; break; }
        r.count = --it->second.refs;
        if (r.count == 0) {
            auto gone = c.objects.extract(it);  // the object may end here
        }
        break;
    }
    case Op::GetIDsOfNames: {
        ObjectEntry* e = Find(c, q.handle);
        if (!e) { r.hr = RPC_E_DISCONNECTED; break; }
        if (!e->dispatch) { r.hr = RPC_E_INVALIDMETHOD; break; }
        std::vector<const char*> names;
        for (const std::string& n : q.names) names.push_back(n.c_str());
        r.ids.assign(names.size(), DISPID_UNKNOWN);
        r.hr = e->dispatch->GetIDsOfNames(q.iid, names.data(), static_cast<UINT>(names.size()), q.lcid, r.ids.data());
        break;
    }
    case Op::Invoke: {
        ObjectEntry* e = Find(c, q.handle);
        if (!e) { r.hr = RPC_E_DISCONNECTED; break; }
        if (!e->dispatch) { r.hr = RPC_E_INVALIDMETHOD; break; }
        // A member may run a nested loop (a modal window) in which this connection's entry can
        // go: the call holds its own reference and touches nothing of the table afterwards.
        ComPtr<IDispatch> target = e->dispatch;
        r.hr = target->Invoke(q.dispid, q.iid, q.lcid, q.flags, &q.params, q.wantResult ? &r.result : nullptr,
                              &r.excep, &r.argErr);
        break;
    }
    case Op::LockServer: {
        ComPtr<IClassFactory> factory;
        r.hr = classes.GetClassObject(q.clsid, IID_IClassFactory, factory.PutVoid());
        if (Failed(r.hr)) break;
        std::uint32_t& held = c.serverLocks[q.clsid];
        // A connection cannot give back more locks than it took: that would end the server
        // under other clients.
        if (!q.lock && held == 0) { r.hr = E_UNEXPECTED; break; }
        r.hr = factory->LockServer(q.lock);
        if (Succeeded(r.hr)) held = q.lock ? held + 1 : held - 1;
        break;
    }
    case Op::InterfaceSupportsErrorInfo: {
        ObjectEntry* e = Find(c, q.handle);
        if (!e) { r.hr = RPC_E_DISCONNECTED; break; }
        if (!e->supportErrorInfo) { r.hr = RPC_E_INVALIDMETHOD; break; }
        r.hr = e->supportErrorInfo->InterfaceSupportsErrorInfo(q.iid);
        break;
    }
    }
    std::optional<ErrorInfo> info = GetErrorInfo();
    if (Failed(r.hr)) r.errorInfo = std::move(info);
    return r;
}

void TransportServer::Shared::Reply(std::uint64_t connection, std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard hold(socketsMutex);
        const auto it = sockets.find(connection);
        if (it == sockets.end()) return;  // closed meanwhile
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(it->second, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // full, or broken: the I/O thread finds out
            sent += static_cast<std::size_t>(n);
        }
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sent));
    }
    {
        std::lock_guard hold(mutex);
        replies.emplace_back(connection, std::move(bytes));
    }
    Wake(wakeFd);
}

void TransportServer::Shared::Drop(std::uint64_t connection) {
    auto it = connections.find(connection);
    if (it == connections.end()) return;
    ConnectionObjects gone = std::move(it->second);
    connections.erase(it);
    for (auto& [clsid, held] : gone.serverLocks) {
        ComPtr<IClassFactory> factory;
        if (Failed(classes.GetClassObject(clsid, IID_IClassFactory, factory.PutVoid()))) continue;
        for (; held > 0; --held) factory->LockServer(false);
    }
    gone.objects.clear();
}

TransportServer::TransportServer(ClassTable& classes, MainLoop& loop, const TypeLib& marshalled)
    : m_Classes(classes), m_Loop(loop), m_Marshalled(marshalled) {}

TransportServer::~TransportServer() { Stop(); }

TransportServer::StartResult TransportServer::Start(const std::filesystem::path& socketPath, std::string* error) {
    const auto fail = [&](const std::string& why, StartResult result = StartResult::Failed) {
        if (error) *error = why;
        if (m_ListenFd >= 0) ::close(m_ListenFd);
        if (m_LockFd >= 0) ::close(m_LockFd);
        m_ListenFd = m_LockFd = -1;
        return result;
    };
    if (Running()) return fail("the transport is running already");
    // No runtime folder, no transport: an empty path would put the lock file in the working
    // folder and bind an abstract socket.
    if (socketPath.empty()) return fail("no runtime folder for the automation socket");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof addr.sun_path) return fail("socket path too long: " + socketPath.string());
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.native().size());

    // The lock decides who serves; only its holder may remove or create the socket file.
    const std::filesystem::path lockPath = LockPathFor(socketPath);
    m_LockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_LockFd < 0) return fail(ErrnoText("cannot open " + lockPath.string()));
    if (::flock(m_LockFd, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        char pid[32] = {};
        [[maybe_unused]] ssize_t n = ::pread(m_LockFd, pid, sizeof pid - 1, 0);
        errno = lockError;
        if (errno == EWOULDBLOCK) return fail("another server is running (process " + std::string(pid) + ")", StartResult::Busy);
        return fail(ErrnoText("cannot lock " + lockPath.string()));
    }
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(m_LockFd, 0) != 0 || ::pwrite(m_LockFd, pid.data(), pid.size(), 0) < 0)
        return fail(ErrnoText("cannot write " + lockPath.string()));

    if (::unlink(socketPath.c_str()) != 0 && errno != ENOENT) return fail(ErrnoText("cannot remove " + socketPath.string()));
    m_ListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_ListenFd < 0) return fail(ErrnoText("socket"));
    if (::bind(m_ListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail(ErrnoText("cannot bind " + socketPath.string()));
    ::chmod(socketPath.c_str(), 0600);
    if (::listen(m_ListenFd, 16) != 0) return fail(ErrnoText("listen"));

    auto shared = std::make_shared<Shared>(m_Classes, m_Marshalled);
    shared->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared->wakeFd < 0) {
        ::unlink(socketPath.c_str());
        return fail(ErrnoText("eventfd"));
    }
    m_Shared = std::move(shared);
    m_SocketPath = socketPath;
    m_Stop = false;
    m_Thread = std::thread([this] { IoThread(); });
    return StartResult::Started;
}

void TransportServer::Stop() {
    if (!m_Thread.joinable()) return;
    m_Stop = true;
    Wake(m_Shared->wakeFd);
    m_Thread.join();
    ::close(m_ListenFd);
    m_ListenFd = -1;
    ::unlink(m_SocketPath.c_str());  // still under the lock: it is ours
    ::close(m_LockFd);
    m_LockFd = -1;
    // Tasks still queued on the loop find the state stopped and do nothing.
    m_Shared->stopped = true;
    ::close(m_Shared->wakeFd);
    m_Shared->wakeFd = -1;
    while (!m_Shared->connections.empty()) m_Shared->Drop(m_Shared->connections.begin()->first);
    m_Shared.reset();
}

std::size_t TransportServer::ConnectionCount() const { return m_Shared ? m_Shared->connections.size() : 0; }

std::size_t TransportServer::HandleCount() const {
    std::size_t n = 0;
    if (m_Shared)
        for (const auto& [id, c] : m_Shared->connections) n += c.objects.size();
    return n;
}

// ---- the I/O thread -------------------------------------------------------------------------

namespace {

static_assert(TransportServer::kMaxBufferedInput >= rpc::kFrameHeaderBytes + rpc::kMaxBodyBytes,
              "a frame of the largest size must fit in the input buffer");

struct Connection {
    int fd = -1;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::size_t outPos = 0;
    bool busy = false;  // a call is on the loop; the next one waits for its reply

    bool Accepting() const { return !busy && out.size() - outPos < TransportServer::kMaxPendingOutput; }
    // Room for more input: a client that writes without reading its replies cannot make the
    // server hold more than the bound; the kernel's socket buffer then holds it back.
    std::size_t InputRoom() const {
        return in.size() < TransportServer::kMaxBufferedInput ? TransportServer::kMaxBufferedInput - in.size() : 0;
    }
};

} // namespace

void TransportServer::IoThread() {
    std::shared_ptr<Shared> shared = m_Shared;
    std::map<std::uint64_t, Connection> conns;
    std::uint64_t nextId = 1;

    const auto closeConnection = [&](std::map<std::uint64_t, Connection>::iterator it) {
        const std::uint64_t id = it->first;
        {
            std::lock_guard hold(shared->socketsMutex);
            shared->sockets.erase(id);
        }
        ::close(it->second.fd);
        conns.erase(it);
        // After every call of the connection already queued: they run first.
        m_Loop.PostTask([shared, id] {
            if (!shared->stopped) shared->Drop(id);
        });
    };

    // Takes complete requests from the input while no call is outstanding. False when the
    // connection must close (a frame above the size limit cannot be skipped safely).
    const auto processInput = [&](std::uint64_t id, Connection& c) {
        while (c.Accepting()) {
            if (c.in.size() < rpc::kFrameHeaderBytes) return true;
            const auto length = rpc::BodyLength(std::span<const std::uint8_t, rpc::kFrameHeaderBytes>(c.in.data(), rpc::kFrameHeaderBytes));
            if (!length) return false;
            if (c.in.size() < rpc::kFrameHeaderBytes + *length) return true;
            if (!c.out.empty()) return true;  // earlier replies go first
            rpc::Request request;
            const HRESULT hr = rpc::DecodeRequest(
                std::span<const std::uint8_t>(c.in.data() + rpc::kFrameHeaderBytes, *length), request);
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(rpc::kFrameHeaderBytes + *length));
            if (Failed(hr)) {
                // Answered here: a malformed request never reaches the loop. An unknown
                // operation gets a reply without fields.
                rpc::Reply reply;
                reply.op = request.op & static_cast<std::uint8_t>(~rpc::kReplyBit);
                reply.callId = request.callId;
                reply.hr = hr;
                const auto bytes = rpc::EncodeReply(reply);
                c.out.insert(c.out.end(), bytes.begin(), bytes.end());
                continue;
            }
            c.busy = true;
            m_Loop.PostTask([shared, id, request = std::move(request)] {
                if (!shared->stopped) shared->Reply(id, rpc::EncodeReply(shared->Execute(id, request)));
            });
        }
        return true;
    };

    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    while (!m_Stop) {
        fds.clear();
        ids.clear();
        fds.push_back({shared->wakeFd, POLLIN, 0});
        fds.push_back({m_ListenFd, POLLIN, 0});
        for (auto& [id, c] : conns) {
            short events = POLLRDHUP;
            if (c.Accepting() && c.InputRoom() > 0) events |= POLLIN;
            if (c.outPos < c.out.size()) events |= POLLOUT;
            fds.push_back({c.fd, events, 0});
            ids.push_back(id);
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (m_Stop) break;

        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(shared->wakeFd, &count, sizeof count);
            std::deque<std::pair<std::uint64_t, std::vector<std::uint8_t>>> replies;
            {
                std::lock_guard hold(shared->mutex);
                replies.swap(shared->replies);
            }
            for (auto& [id, bytes] : replies) {
                auto it = conns.find(id);
                if (it == conns.end()) continue;  // closed meanwhile
                it->second.out.insert(it->second.out.end(), bytes.begin(), bytes.end());
                it->second.busy = false;
            }
        }

        for (std::size_t i = 0; i < ids.size(); ++i) {
            auto it = conns.find(ids[i]);
            if (it == conns.end()) continue;
            Connection& c = it->second;
            const short rev = fds[i + 2].revents;
            bool open = true;
            if (rev & POLLIN) {
                std::uint8_t buf[65536];
                const ssize_t n = ::recv(c.fd, buf, std::min(sizeof buf, c.InputRoom()), 0);
                if (n > 0) c.in.insert(c.in.end(), buf, buf + n);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR)) open = false;
            } else if (rev & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) {
                open = false;  // gone while its call is on the loop, or broken
            }
            if (open && (rev & POLLOUT)) {
                const ssize_t n = ::send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
                if (n > 0) c.outPos += static_cast<std::size_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR) open = false;
                if (c.outPos == c.out.size()) {
                    c.out.clear();
                    c.outPos = 0;
                }
            }
            if (!open) closeConnection(it);
        }

        // New input, or input held back while a call was outstanding.
        for (auto it = conns.begin(); it != conns.end();) {
            auto next = std::next(it);
            if (!processInput(it->first, it->second)) closeConnection(it);
            it = next;
        }

        std::size_t buffered = 0;
        for (const auto& [id, c] : conns) buffered += c.in.size() + (c.out.size() - c.outPos);
        m_BufferedBytes = buffered;

        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_ListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                ucred peer{};
                socklen_t len = sizeof peer;
                const bool sameUser = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0 && peer.uid == ::geteuid();
                if (!sameUser || conns.size() >= kMaxConnections) ::close(fd);
                else {
                    {
                        std::lock_guard hold(shared->socketsMutex);
                        shared->sockets.emplace(nextId, fd);
                    }
                    conns.emplace(nextId++, Connection{fd, {}, {}, 0, false});
                }
            }
        }
    }
    {
        std::lock_guard hold(shared->socketsMutex);
        shared->sockets.clear();
    }
    for (auto& [id, c] : conns) ::close(c.fd);
    m_BufferedBytes = 0;
    // The loop thread drops what these connections held when the server stops.
}

} // namespace velq3
