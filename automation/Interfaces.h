// The system interfaces of the automation stand-in: IUnknown, IDispatch, ISupportErrorInfo
// and IClassFactory, and the argument blocks of late-bound calls.
#pragma once

#ifdef _WIN32
#include "automation/win32/Interfaces.h"
#else

#include <cstdint>
#include <vector>

#include "automation/Guid.h"
#include "automation/HResult.h"
#include "automation/Variant.h"

namespace velq3 {

using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using WORD = std::uint16_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;

// The argument of IClassFactory::LockServer.
using LockFlag = bool;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// Invoke flags; the same bits name a member's kind in its type information.
inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

inline constexpr LCID kLocaleEnglishUS = 1033;

// Arguments of a late-bound call, laid out as on Windows: `args` holds the last argument
// first; the first `namedArgs.size()` entries are the named ones, `namedArgs[i]` naming
// `args[i]` (a property put names its value DISPID_PROPERTYPUT).
struct DispParams {
    std::vector<Variant> args;
    std::vector<DISPID> namedArgs;
};

// What a late-bound call reports when the member failed (Invoke gives DISP_E_EXCEPTION).
struct ExcepInfo {
    std::uint16_t wCode = 0;
    Bstr source;
    Bstr description;
    Bstr helpFile;
    std::uint32_t helpContext = 0;
    HRESULT scode = S_OK;  // the member's own result
};

class TypeInfo;

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects end through Release
};

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    // The type information stays valid for the life of the process.
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, const TypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(const IID& riid, const char* const* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, const IID& riid, LCID lcid, WORD flags, const DispParams* params, Variant* result,
                           ExcepInfo* excepInfo, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

class ISupportErrorInfo : public IUnknown {
public:
    virtual HRESULT InterfaceSupportsErrorInfo(const IID& iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
    virtual HRESULT LockServer(LockFlag lock) = 0;

protected:
    ~IClassFactory() = default;
};

template <class T> constexpr const IID& kIidOf = T::kIid;
template <> inline constexpr const IID& kIidOf<IUnknown> = IID_IUnknown;
template <> inline constexpr const IID& kIidOf<IDispatch> = IID_IDispatch;
template <> inline constexpr const IID& kIidOf<ISupportErrorInfo> = IID_ISupportErrorInfo;
template <> inline constexpr const IID& kIidOf<IClassFactory> = IID_IClassFactory;

} // namespace velq3

#include "automation/ComPtr.h"

#endif // _WIN32
