// Counts who holds the serial link: the first holder opens it, the last one to let go
// closes it.
#pragma once

#include <cstdint>
#include <set>

namespace velq3 {

// A client identity: opaque, pointer-sized, stable for the client's lifetime.
using ClientId = std::uintptr_t;

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
