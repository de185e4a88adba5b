// Type information declared in code as data: each dual interface's members in dispatch order,
// bound to the interface's own table so late-bound calls reach the same code; the coclasses.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "automation/Interfaces.h"

namespace velq3 {

struct ParamDesc {
    std::string name;
    VARTYPE type = VT_EMPTY;
};

// Calls one member through the interface's table with arguments already converted to the
// declared types, in declaration order.
using InvokeThunk = HRESULT (*)(IDispatch* self, const Variant* args, Variant* result);

struct FuncDesc {
    std::string name;
    DISPID memid = DISPID_UNKNOWN;
    WORD invkind = DISPATCH_METHOD;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    VARTYPE resultType = VT_EMPTY;   // a property get's value type
    std::vector<ParamDesc> params;   // a property put has one: its value
    std::string helpString;
    InvokeThunk thunk = nullptr;
};

// The type information of one dual interface.
class TypeInfo {
public:
    TypeInfo(std::string name, IID iid, std::vector<FuncDesc> funcs);

    const std::string& Name() const { return m_Name; }
    const IID& Guid() const { return m_Iid; }
    const std::vector<FuncDesc>& Funcs() const { return m_Funcs; }

    // Member names (case-insensitive) to dispatch ids; names after the first are parameter
    // names of that member and get their positions. Unknown names get DISPID_UNKNOWN and make
    // the result DISP_E_UNKNOWNNAME.
    HRESULT GetIDsOfNames(const char* const* names, UINT count, DISPID* ids) const;
    // The member's name and help string; TYPE_E_ELEMENTNOTFOUND for an unknown id.
    HRESULT GetDocumentation(DISPID memid, std::string* name, std::string* helpString) const;
    // The first member with this id whose kind is among `flags`.
    const FuncDesc* FindFunc(DISPID memid, WORD flags) const;

    // Late-bound call on `self`, which must implement this interface. Arguments are checked
    // and converted to the declared types; a member that fails makes the call fail with
    // DISP_E_EXCEPTION, its own result in `excepInfo->scode` and the description and source
    // from the thread's error information.
    HRESULT Invoke(IDispatch* self, DISPID memid, WORD flags, const DispParams* params, Variant* result,
                   ExcepInfo* excepInfo, UINT* argErr) const;

private:
    std::string m_Name;
    IID m_Iid;
    std::vector<FuncDesc> m_Funcs;
};

struct CoClassInfo {
    std::string name;
    CLSID clsid;
    std::string helpString;
    IID defaultInterface;
};

struct TypeLib {
    std::string name;
    Guid libid;
    std::uint16_t majorVersion = 1;
    std::uint16_t minorVersion = 0;
    LCID lcid = 0;
    std::string helpString;
    std::vector<TypeInfo> interfaces;
    std::vector<CoClassInfo> coclasses;

    const TypeInfo* FindInterface(const IID& iid) const;
    const CoClassInfo* FindCoClass(const CLSID& clsid) const;
};

// ---- Building member entries from the interface's own functions ----------------------------

namespace detail {
template <class>
struct MemberFn;
template <class I, class A>
struct MemberFn<HRESULT (I::*)(A)> {
    using Itf = I;
    using Arg = A;
    static constexpr int kArity = 1;
};
template <class I>
struct MemberFn<HRESULT (I::*)()> {
    using Itf = I;
    static constexpr int kArity = 0;
};
} // namespace detail

// A property get, `HRESULT get_X(T* value)`, with the help string "property X".
template <auto Fn>
FuncDesc PropGet(const std::string& name, DISPID id) {
    using M = detail::MemberFn<decltype(Fn)>;
    using T = std::remove_pointer_t<typename M::Arg>;
    static_assert(kVarTypeOf<T> != VT_EMPTY, "not an automation type");
    InvokeThunk thunk = [](IDispatch* self, const Variant*, Variant* result) -> HRESULT {
        T value{};
        const HRESULT hr = (static_cast<typename M::Itf*>(self)->*Fn)(&value);
        if (Succeeded(hr) && result) *result = Variant(std::move(value));
        return hr;
    };
    return FuncDesc{name, id, DISPATCH_PROPERTYGET, kVarTypeOf<T>, {}, "property " + name, thunk};
}

// A property put, `HRESULT put_X(T value)`.
template <auto Fn>
FuncDesc PropPut(const std::string& name, DISPID id) {
    using M = detail::MemberFn<decltype(Fn)>;
    using T = typename M::Arg;
    static_assert(kVarTypeOf<T> != VT_EMPTY, "not an automation type");
    InvokeThunk thunk = [](IDispatch* self, const Variant* args, Variant*) -> HRESULT {
        return (static_cast<typename M::Itf*>(self)->*Fn)(args[0].Get<T>());
    };
    return FuncDesc{name, id, DISPATCH_PROPERTYPUT, VT_EMPTY, {{"newVal", kVarTypeOf<T>}}, "property " + name, thunk};
}

// A method without a result, `HRESULT M()` or `HRESULT M(T value)`, with the help string
// "method M".
template <auto Fn>
FuncDesc Method(const std::string& name, DISPID id, const std::string& paramName = "") {
    using M = detail::MemberFn<decltype(Fn)>;
    if constexpr (M::kArity == 0) {
        InvokeThunk thunk = [](IDispatch* self, const Variant*, Variant*) -> HRESULT {
            return (static_cast<typename M::Itf*>(self)->*Fn)();
        };
        return FuncDesc{name, id, DISPATCH_METHOD, VT_EMPTY, {}, "method " + name, thunk};
    } else {
        using T = typename M::Arg;
        static_assert(kVarTypeOf<T> != VT_EMPTY, "not an automation type");
        InvokeThunk thunk = [](IDispatch* self, const Variant* args, Variant*) -> HRESULT {
            return (static_cast<typename M::Itf*>(self)->*Fn)(args[0].Get<T>());
        };
        return FuncDesc{name, id, DISPATCH_METHOD, VT_EMPTY, {{paramName, kVarTypeOf<T>}}, "method " + name, thunk};
    }
}

} // namespace velq3
