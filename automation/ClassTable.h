// The process class table: the class objects a server offers to out-of-process clients,
// registered at start-up and revoked at exit.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "automation/Interfaces.h"

namespace velq3 {

class ClassTable {
public:
    using Cookie = std::uint32_t;

    ClassTable() = default;
    ~ClassTable() { RevokeAll(); }
    ClassTable(const ClassTable&) = delete;
    ClassTable& operator=(const ClassTable&) = delete;

    // Offers `classObject` for `clsid` (for any number of creations) and keeps a reference on
    // it until it is revoked. E_POINTER for a null object or cookie slot.
    HRESULT Register(const CLSID& clsid, IUnknown* classObject, Cookie* cookie);
    // Withdraws one registration and drops its reference. E_INVALIDARG for an unknown cookie.
    HRESULT Revoke(Cookie cookie);
    void RevokeAll();

    // The class object of `clsid` (the latest registration), asked for `iid`.
    // CLASS_E_CLASSNOTAVAILABLE when the class is not (or no longer) registered.
    HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object) const;

    std::size_t Count() const;

private:
    struct Entry {
        Cookie cookie;
        CLSID clsid;
        ComPtr<IUnknown> object;
    };

    mutable std::mutex m_Mutex;
    std::vector<Entry> m_Entries;
    Cookie m_NextCookie = 1;
};

} // namespace velq3
