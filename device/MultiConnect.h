// Counts who holds the serial link: the first holder opens it, the last one to let go
// closes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>

namespace velq3 {

// A client identity: opaque, stable for the client's lifetime and never given to another
// client of the process (an address would be, once the allocator reuses it).
using ClientId = std::uint64_t;

// A fresh identity from a process-wide 64-bit counter; never 0, never repeated. Any thread.
inline ClientId NewClientId() {
    static std::atomic<ClientId> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

template <class T>
class CMultiConnect {
public:
    explicit CMultiConnect(T* device) : m_pDevice(device) {}

    // True when the client now holds the link.
    bool ConnectMulti(ClientId client) {
        if (!ClientSet.empty()) {
            m_pDevice->Log("ConnectMulti(0x%x) = skip\r\n", static_cast<unsigned>(client));
        } else {
            m_pDevice->Log("ConnectMulti(0x%x) = connect\r\n", static_cast<unsigned>(client));
            m_pDevice->OpenLink();
            if (!m_pDevice->IsOpen()) return false;
        }
        ClientSet.insert(client);
        return true;
    }

    // True when this call closed the link.
    bool DisconnectMulti(ClientId client) {
        if (!m_pDevice->IsOpen()) return false;
        ClientSet.erase(client);
        if (!ClientSet.empty()) {
            m_pDevice->Log("DisconnectMulti(0x%x) = skip\r\n", static_cast<unsigned>(client));
            return false;
        }
        m_pDevice->Log("DisconnectMulti(0x%x) = Disconnect\r\n", static_cast<unsigned>(client));
        m_pDevice->CloseLink();
        return true;
    }

    bool IsClient(ClientId client) const { return ClientSet.count(client) != 0; }

    std::set<ClientId> ClientSet;

private:
    T* m_pDevice;
};

} // namespace velq3
