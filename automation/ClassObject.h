// Class objects: create automation objects of one class for clients, with the aggregation
// rules, and lock the server on request. A class object holds no lock on the module itself.
#pragma once

#include <new>

#include "automation/ComObject.h"

namespace velq3 {

template <class Impl, class Context>
class ClassObject final : public IClassFactory {
public:
    // `Impl` is constructed from `context`. Only an aggregatable class accepts an outer
    // object, and then only when IUnknown is asked for.
    ClassObject(ModuleLock& module, Context& context, bool aggregatable)
        : m_Module(module), m_Context(context), m_Aggregatable(aggregatable) {}

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

    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer && (iid != IID_IUnknown || !m_Aggregatable)) return CLASS_E_NOAGGREGATION;
        try {
            if (outer) return Finish(new AggObject<Impl>(m_Module, outer, m_Context), iid, object);
            return Finish(new ComObject<Impl>(m_Module, m_Context), iid, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT LockServer(bool lock) override {
        if (lock) m_Module.Lock();
        else m_Module.Unlock();
        return S_OK;
    }

private:
    // A new object whose query fails is destroyed again.
    template <class Obj>
    static HRESULT Finish(Obj* obj, const IID& iid, void** object) {
        const HRESULT hr = obj->QueryInterface(iid, object);
        if (Failed(hr)) delete obj;
        return hr;
    }

    ModuleLock& m_Module;
    Context& m_Context;
    bool m_Aggregatable;
    ULONG m_Refs = 0;
};

} // namespace velq3
