// Automation objects: the IDispatch and ISupportErrorInfo part every class shares, and the
// reference-counting wrappers for a plain object and for an aggregated one.
#pragma once

#include <utility>

#include "automation/Interfaces.h"
#include "automation/ModuleLock.h"
#include "automation/TypeLibRegistration.h"
#ifdef _WIN32
#include "automation/win32/DispatchObject.h"
#endif

namespace velq3 {

#ifndef _WIN32  // the Windows body is automation/win32/DispatchObject.h
// Base of an object implementing the dual interface `Itf`: IDispatch works from the type
// information of `Itf`, loaded through the type library's registration. The IUnknown
// methods come from the wrapper (ComObject, ContainedObject).
template <class Itf>
class DispatchObject : public Itf, public ISupportErrorInfo {
public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT GetTypeInfo(UINT index, LCID, const TypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, info);
    }

    HRESULT GetIDsOfNames(const IID& riid, const char* const* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        const TypeInfo* info = nullptr;
        if (HRESULT hr = m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, &info); Failed(hr)) return hr;
        return info->GetIDsOfNames(names, count, ids);
    }

    HRESULT Invoke(DISPID id, const IID& riid, LCID, WORD flags, const DispParams* params, Variant* result,
                   ExcepInfo* excepInfo, UINT* argErr) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        const TypeInfo* info = nullptr;
        if (HRESULT hr = m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, &info); Failed(hr)) return hr;
        Itf* self = this;
        return info->Invoke(self, id, flags, params, result, excepInfo, argErr);
    }

    HRESULT InterfaceSupportsErrorInfo(const IID& iid) override { return iid == kIidOf<Itf> ? S_OK : S_FALSE; }

    // Answers exactly IUnknown, `Itf`, IDispatch and ISupportErrorInfo.
    HRESULT InternalQueryInterface(const IID& iid, void** object) {
        if (!object) return E_POINTER;
        *object = nullptr;
        Itf* itf = this;
        IUnknown* unknown = nullptr;
        if (iid == IID_IUnknown || iid == kIidOf<Itf>) {
            unknown = itf;
            *object = iid == IID_IUnknown ? static_cast<void*>(unknown) : static_cast<void*>(itf);
        } else if (iid == IID_IDispatch) {
            IDispatch* dispatch = itf;
            unknown = dispatch;
            *object = dispatch;
        } else if (iid == IID_ISupportErrorInfo) {
            ISupportErrorInfo* sei = this;
            unknown = sei;
            *object = sei;
        } else {
            return E_NOINTERFACE;
        }
        unknown->AddRef();
        return S_OK;
    }

protected:
    explicit DispatchObject(TypeLibLoader& typeLib) : m_TypeLib(typeLib) {}
    ~DispatchObject() = default;

private:
    TypeLibLoader& m_TypeLib;
};

#endif // _WIN32

// A stand-alone object: its own reference count, a module lock for its lifetime.
template <class Impl>
class ComObject final : public Impl {
public:
    template <class... Args>
    explicit ComObject(ModuleLock& module, Args&&... args) : Impl(std::forward<Args>(args)...), m_Module(module) {
        m_Module.Lock();
    }
    ~ComObject() { m_Module.Unlock(); }

    HRESULT QueryInterface(const IID& iid, void** object) override { return this->InternalQueryInterface(iid, object); }
    ULONG AddRef() override { return ++m_Refs; }
    ULONG Release() override {
        const ULONG n = --m_Refs;
        if (n == 0) delete this;
        return n;
    }

private:
    ULONG m_Refs = 0;  // single-threaded objects: no interlocking
    ModuleLock& m_Module;
};

// The inner part of an aggregated object: every interface it hands out delegates its
// IUnknown methods to the outer object.
template <class Impl>
class ContainedObject final : public Impl {
public:
    template <class... Args>
    explicit ContainedObject(IUnknown* outer, Args&&... args) : Impl(std::forward<Args>(args)...), m_Outer(outer) {}
    ~ContainedObject() = default;

    HRESULT QueryInterface(const IID& iid, void** object) override { return m_Outer->QueryInterface(iid, object); }
    ULONG AddRef() override { return m_Outer->AddRef(); }
    ULONG Release() override { return m_Outer->Release(); }

private:
    IUnknown* m_Outer;  // not held: the outer object owns this one
};

// An aggregated object as its outer object sees it: the non-delegating IUnknown, which
// alone counts references and keeps the module lock.
template <class Impl>
class AggObject final : public IUnknown {
public:
    template <class... Args>
    AggObject(ModuleLock& module, IUnknown* outer, Args&&... args)
        : m_Inner(outer, std::forward<Args>(args)...), m_Module(module) {
        m_Module.Lock();
    }
    ~AggObject() { m_Module.Unlock(); }

    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_Inner.InternalQueryInterface(iid, object);
    }
    ULONG AddRef() override { return ++m_Refs; }
    ULONG Release() override {
        const ULONG n = --m_Refs;
        if (n == 0) delete this;
        return n;
    }

    Impl& Inner() { return m_Inner; }

private:
    ContainedObject<Impl> m_Inner;
    ULONG m_Refs = 0;
    ModuleLock& m_Module;
};

} // namespace velq3
