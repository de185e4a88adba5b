// The client half of the out-of-process transport: a connection to a server's socket and the
// proxies through which a client calls the server's objects. A proxy stands for one remote
// interface pointer; QueryInterface, AddRef, Release, GetIDsOfNames, Invoke, LockServer and
// InterfaceSupportsErrorInfo go to the server, and the error information a failed call left
// there becomes the calling thread's.
//
// Proxies exist for IUnknown, IDispatch, ISupportErrorInfo and IClassFactory: across the
// process boundary the device interfaces are called late-bound, through IDispatch.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "automation/Interfaces.h"
#include "automation/RemoteWire.h"

namespace velq3 {

class RemoteProxy;

class RemoteConnection : public std::enable_shared_from_this<RemoteConnection> {
public:
    // RPC_E_SERVER_UNAVAILABLE when nothing listens at `socketPath`.
    static HRESULT Connect(const std::filesystem::path& socketPath, std::shared_ptr<RemoteConnection>* out);

    ~RemoteConnection();
    RemoteConnection(const RemoteConnection&) = delete;
    RemoteConnection& operator=(const RemoteConnection&) = delete;

    // Sends `request` under a new call id and waits for its reply. The result is the
    // transport's: S_OK when a reply came (the call's own result is `reply.hr`),
    // RPC_E_CALL_FAILED when the connection is lost (every later call fails the same way at
    // once), RPC_E_INVALID_DATAPACKET when the reply is malformed (the connection is dropped).
    // Calls from several threads are carried one after the other.
    HRESULT Call(rpc::Request& request, rpc::Reply& reply);

    // A new object of class `clsid` on the server, through a proxy for `iid`.
    HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object);
    // A proxy of the class object of `clsid` (IClassFactory or IUnknown).
    HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object);

    bool Broken() const;
    // Proxies alive on this connection.
    std::size_t ProxyCount() const;

    // For proxies: the proxy of `handle` asked for `iid`, made when there is none yet. The
    // server counted one reference for the handle, which the proxy takes over. E_NOINTERFACE
    // (after giving the reference back) when no proxy stands for `iid`.
    HRESULT ProxyFor(rpc::Handle handle, const IID& iid, void** object);
    // Counts a reference of `proxy` up or down (`change` +1 or -1) and returns the new count;
    // at zero the proxy is no longer found for its handle and its owner deletes it.
    ULONG CountProxyReference(RemoteProxy* proxy, int change);

private:
    explicit RemoteConnection(int fd) : m_Fd(fd) {}
    HRESULT Fail(HRESULT hr);

    int m_Fd;
    mutable std::mutex m_CallMutex;
    std::uint32_t m_NextCallId = 1;
    bool m_Broken = false;
    mutable std::mutex m_ProxyMutex;
    std::map<rpc::Handle, RemoteProxy*> m_Proxies;
};

// True when a proxy can stand for interface `iid`.
bool HasRemoteProxy(const IID& iid);

} // namespace velq3
