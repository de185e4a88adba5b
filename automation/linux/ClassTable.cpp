// Registration, revocation and lookup of class objects.
#include "automation/ClassTable.h"

#include <algorithm>

namespace velq3 {

HRESULT ClassTable::Register(const CLSID& clsid, IUnknown* classObject, Cookie* cookie) {
    if (!classObject || !cookie) return E_POINTER;
    classObject->AddRef();
    std::lock_guard hold(m_Mutex);
    *cookie = m_NextCookie++;
    m_Entries.push_back(Entry{*cookie, clsid, ComPtr<IUnknown>::Attach(classObject)});
    return S_OK;
}

HRESULT ClassTable::Revoke(Cookie cookie) {
    ComPtr<IUnknown> released;  // dropped after the lock is left: a class object may call back
    {
        std::lock_guard hold(m_Mutex);
        auto it = std::find_if(m_Entries.begin(), m_Entries.end(), [&](const Entry& e) { return e.cookie == cookie; });
        if (it == m_Entries.end()) return E_INVALIDARG;
        released = std::move(it->object);
        m_Entries.erase(it);
    }
    return S_OK;
}

void ClassTable::RevokeAll() {
    std::vector<Entry> released;
    {
        std::lock_guard hold(m_Mutex);
        released.swap(m_Entries);
    }
}

HRESULT ClassTable::GetClassObject(const CLSID& clsid, const IID& iid, void** object) const {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IUnknown> found;
    {
        std::lock_guard hold(m_Mutex);
        for (auto it = m_Entries.rbegin(); it != m_Entries.rend(); ++it) {
            if (it->clsid == clsid) {
                found = it->object;
                break;
            }
        }
    }
    if (!found) return CLASS_E_CLASSNOTAVAILABLE;
    return found->QueryInterface(iid, object);
}

std::size_t ClassTable::Count() const {
    std::lock_guard hold(m_Mutex);
    return m_Entries.size();
}

} // namespace velq3
