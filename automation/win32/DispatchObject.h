// The IDispatch and ISupportErrorInfo part of every automation object on Windows: IDispatch
// works from the type information of `Itf` in the registered type library, and Invoke calls
// the interface's own table through ITypeInfo::Invoke (which turns a failed member into
// DISP_E_EXCEPTION with the thread's error information). The IUnknown methods come from the
// wrapper (ComObject, ContainedObject).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "automation/Interfaces.h"
#include "automation/win32/TypeLibLoader.h"

namespace velq3 {

template <class Itf>
class DispatchObject : public Itf, public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, info);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        if (HRESULT hr = m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, &info); Failed(hr)) return hr;
        const HRESULT hr = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        if (HRESULT hr = m_TypeLib.GetTypeInfoOfGuid(kIidOf<Itf>, &info); Failed(hr)) return hr;
        Itf* self = this;
        const HRESULT hr = info->Invoke(self, id, flags, params, result, excepInfo, argErr);
        info->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == kIidOf<Itf> ? S_OK : S_FALSE;
    }

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

} // namespace velq3
