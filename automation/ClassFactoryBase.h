// QueryInterface and reference counting shared by every class object, the local ones and
// the proxies of a server's class objects.
#pragma once

#include <atomic>

#include "automation/HResult.h"
#include "automation/Interfaces.h"

namespace velq3 {

class ClassFactoryBase : public IClassFactory {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_Refs; }
    ULONG Release() override {
        const ULONG n = --m_Refs;
        if (n == 0) delete this;
        return n;
    }

protected:
    virtual ~ClassFactoryBase() = default;

private:
    std::atomic<ULONG> m_Refs{0};
};

} // namespace velq3
