// Class objects: create automation objects of one class for clients, with the aggregation
// rules, and lock the server on request. A class object holds no lock on the module itself.
#pragma once

#include <new>

#include "automation/ClassFactoryBase.h"
#include "automation/ComObject.h"

namespace velq3 {

template <class Impl, class Context>
class ClassObject final : public ClassFactoryBase {
public:
    // `Impl` is constructed from `context`. Only an aggregatable class accepts an outer
    // object, and then only when IUnknown is asked for.
    ClassObject(ModuleLock& module, Context& context, bool aggregatable)
        : m_Module(module), m_Context(context), m_Aggregatable(aggregatable) {}

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

    HRESULT LockServer(LockFlag lock) override {
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
};

} // namespace velq3
