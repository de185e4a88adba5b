// The client's connection (one call at a time over a blocking socket) and its proxies.
#include "automation/RemoteClient.h"

#include "automation/ClassFactoryBase.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "automation/ErrorInfo.h"

namespace velq3 {

using rpc::Handle;
using rpc::Op;

bool HasRemoteProxy(const IID& iid) {
    return iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ISupportErrorInfo;
}

// One remote interface pointer. The class answers IDispatch and ISupportErrorInfo; it hands
// out the one that its handle stands for. Its reference count mirrors the server's count for
// the handle: AddRef and Release go to the server too.
class RemoteProxy final : public IDispatch, public ISupportErrorInfo {
public:
    RemoteProxy(std::shared_ptr<RemoteConnection> connection, Handle handle, const IID& iid)
        : m_Connection(std::move(connection)), m_Handle(handle), m_Iid(iid) {}

    void* Interface() {
        if (m_Iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
        if (m_Iid == IID_IDispatch) return static_cast<IDispatch*>(this);
        return static_cast<IUnknown*>(static_cast<IDispatch*>(this));
    }
    Handle GetHandle() const { return m_Handle; }
    // Changed under the connection's proxy lock only.
    ULONG m_Refs = 1;

    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!HasRemoteProxy(iid)) return E_NOINTERFACE;
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::QueryInterface);
        q.handle = m_Handle;
        q.iid = iid;
        rpc::Reply r;
        if (HRESULT hr = CallWithErrorInfo(q, r); Failed(hr)) return hr;
        return m_Connection->ProxyFor(r.handle, iid, object);
    }

    ULONG AddRef() override {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::AddRef);
        q.handle = m_Handle;
        rpc::Reply r;
        m_Connection->Call(q, r);  // a lost connection still counts locally
        return m_Connection->CountProxyReference(this, +1);
    }

    ULONG Release() override {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::Release);
        q.handle = m_Handle;
        rpc::Reply r;
        m_Connection->Call(q, r);
        // The connection may have to outlive this proxy's deletion.
        const std::shared_ptr<RemoteConnection> connection = m_Connection;
        const ULONG n = connection->CountProxyReference(this, -1);
        if (n == 0) delete this;
        return n;
    }

    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;  // type information stays in the server's process
        return S_OK;
    }

    HRESULT GetTypeInfo(UINT, LCID, const TypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT GetIDsOfNames(const IID& riid, const char* const* names, UINT count, LCID lcid, DISPID* ids) override {
        if (count > 0 && (!names || !ids)) return E_POINTER;
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::GetIDsOfNames);
        q.handle = m_Handle;
        q.iid = riid;
        q.lcid = lcid;
        for (UINT i = 0; i < count; ++i) q.names.emplace_back(names[i] ? names[i] : "");
        rpc::Reply r;
        const HRESULT hr = CallWithErrorInfo(q, r);
        if (r.ids.size() == count)
            for (UINT i = 0; i < count; ++i) ids[i] = r.ids[i];
        return hr;
    }

    HRESULT Invoke(DISPID id, const IID& riid, LCID lcid, WORD flags, const DispParams* params, Variant* result,
                   ExcepInfo* excepInfo, UINT* argErr) override {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::Invoke);
        q.handle = m_Handle;
        q.dispid = id;
        q.iid = riid;
        q.lcid = lcid;
        q.flags = flags;
        if (params) q.params = *params;
        q.wantResult = result != nullptr;
        rpc::Reply r;
        const HRESULT hr = CallWithErrorInfo(q, r);
        if (result) *result = std::move(r.result);
        if (hr == DISP_E_EXCEPTION && excepInfo) *excepInfo = std::move(r.excep);
        if (Failed(hr) && argErr) *argErr = r.argErr;
        return hr;
    }

    HRESULT InterfaceSupportsErrorInfo(const IID& iid) override {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::InterfaceSupportsErrorInfo);
        q.handle = m_Handle;
        q.iid = iid;
        rpc::Reply r;
        return CallWithErrorInfo(q, r);
    }

private:
    ~RemoteProxy() = default;

    // The call's own result; the error information it left becomes this thread's.
    HRESULT CallWithErrorInfo(rpc::Request& q, rpc::Reply& r) {
        const HRESULT transport = m_Connection->Call(q, r);
        if (Failed(transport)) {
            SetErrorInfo(std::nullopt);
            r = rpc::Reply{};
            return transport;
        }
        SetErrorInfo(std::move(r.errorInfo));
        return r.hr;
    }

    std::shared_ptr<RemoteConnection> m_Connection;
    Handle m_Handle;
    IID m_Iid;
};

namespace {

// The class object of one class on the server. It has no handle: creation and server locks
// name the class.
class ClassFactoryProxy final : public ClassFactoryBase {
public:
    ClassFactoryProxy(std::shared_ptr<RemoteConnection> connection, const CLSID& clsid)
        : m_Connection(std::move(connection)), m_Clsid(clsid) {}

    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;  // an object in another process cannot be aggregated
        return m_Connection->CreateInstance(m_Clsid, iid, object);
    }

    HRESULT LockServer(bool lock) override {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::LockServer);
        q.clsid = m_Clsid;
        q.lock = lock;
        rpc::Reply r;
        if (HRESULT hr = m_Connection->Call(q, r); Failed(hr)) return hr;
        SetErrorInfo(std::move(r.errorInfo));
        return r.hr;
    }

private:
    ~ClassFactoryProxy() = default;

    std::shared_ptr<RemoteConnection> m_Connection;
    CLSID m_Clsid;
};

bool SendAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

HRESULT RemoteConnection::Connect(const std::filesystem::path& socketPath, std::shared_ptr<RemoteConnection>* out) {
    if (!out) return E_POINTER;
    out->reset();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof addr.sun_path) return RPC_E_SERVER_UNAVAILABLE;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return RPC_E_SERVER_UNAVAILABLE;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return RPC_E_SERVER_UNAVAILABLE;
    }
    out->reset(new RemoteConnection(fd));
    return S_OK;
}

RemoteConnection::~RemoteConnection() { ::close(m_Fd); }

HRESULT RemoteConnection::Fail(HRESULT hr) {
    m_Broken = true;
    ::shutdown(m_Fd, SHUT_RDWR);
    return hr;
}

HRESULT RemoteConnection::Call(rpc::Request& q, rpc::Reply& r) {
    std::lock_guard hold(m_CallMutex);
    r = rpc::Reply{};
    if (m_Broken) return RPC_E_CALL_FAILED;
    q.callId = m_NextCallId++;
    const std::vector<std::uint8_t> frame = rpc::EncodeRequest(q);
    if (!SendAll(m_Fd, frame.data(), frame.size())) return Fail(RPC_E_CALL_FAILED);
    std::uint8_t header[rpc::kFrameHeaderBytes];
    if (!ReceiveAll(m_Fd, header, sizeof header)) return Fail(RPC_E_CALL_FAILED);
    const auto length = rpc::BodyLength(header);
    if (!length) return Fail(RPC_E_INVALID_DATAPACKET);
    std::vector<std::uint8_t> body(*length);
    if (!ReceiveAll(m_Fd, body.data(), body.size())) return Fail(RPC_E_CALL_FAILED);
    if (Failed(rpc::DecodeReply(body, r)) || r.callId != q.callId || r.op != q.op) {
        r = rpc::Reply{};
        return Fail(RPC_E_INVALID_DATAPACKET);
    }
    return S_OK;
}

bool RemoteConnection::Broken() const {
    std::lock_guard hold(m_CallMutex);
    return m_Broken;
}

std::size_t RemoteConnection::ProxyCount() const {
    std::lock_guard hold(m_ProxyMutex);
    return m_Proxies.size();
}

HRESULT RemoteConnection::ProxyFor(Handle handle, const IID& iid, void** object) {
    *object = nullptr;
    if (!HasRemoteProxy(iid)) {
        rpc::Request q;
        q.op = static_cast<std::uint8_t>(Op::Release);
        q.handle = handle;
        rpc::Reply r;
        Call(q, r);
        return E_NOINTERFACE;
    }
    std::lock_guard hold(m_ProxyMutex);
    auto it = m_Proxies.find(handle);
    if (it != m_Proxies.end()) {
        ++it->second->m_Refs;
        *object = it->second->Interface();
        return S_OK;
    }
    auto* proxy = new RemoteProxy(shared_from_this(), handle, iid);
    m_Proxies.emplace(handle, proxy);
    *object = proxy->Interface();
    return S_OK;
}

ULONG RemoteConnection::CountProxyReference(RemoteProxy* proxy, int change) {
    std::lock_guard hold(m_ProxyMutex);
    proxy->m_Refs = change > 0 ? proxy->m_Refs + 1 : proxy->m_Refs - 1;
    if (proxy->m_Refs == 0) m_Proxies.erase(proxy->GetHandle());
    return proxy->m_Refs;
}

HRESULT RemoteConnection::CreateInstance(const CLSID& clsid, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!HasRemoteProxy(iid)) return E_NOINTERFACE;
    rpc::Request q;
    q.op = static_cast<std::uint8_t>(Op::CreateInstance);
    q.clsid = clsid;
    q.iid = iid;
    rpc::Reply r;
    if (HRESULT hr = Call(q, r); Failed(hr)) return hr;
    SetErrorInfo(std::move(r.errorInfo));
    if (Failed(r.hr)) return r.hr;
    return ProxyFor(r.handle, iid, object);
}

HRESULT RemoteConnection::GetClassObject(const CLSID& clsid, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* factory = new ClassFactoryProxy(shared_from_this(), clsid);
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

} // namespace velq3
