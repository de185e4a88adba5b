// Name lookup and late-bound calls driven by the type information.
#include "automation/TypeInfo.h"

#include <cctype>
#include <string_view>

#include "automation/ErrorInfo.h"

namespace velq3 {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool IsMissing(const Variant& v) {
    const ErrorValue* e = v.GetIf<ErrorValue>();
    return e && e->scode == DISP_E_PARAMNOTFOUND;
}

} // namespace

TypeInfo::TypeInfo(std::string name, IID iid, std::vector<FuncDesc> funcs)
    : m_Name(std::move(name)), m_Iid(iid), m_Funcs(std::move(funcs)) {}

HRESULT TypeInfo::GetIDsOfNames(const char* const* names, UINT count, DISPID* ids) const {
    if (count == 0) return E_INVALIDARG;
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    HRESULT hr = S_OK;
    const FuncDesc* member = nullptr;
    for (const FuncDesc& f : m_Funcs) {
        if (!SameName(f.name, names[0])) continue;
        ids[0] = f.memid;
        // Parameter names come from the entry that has parameters (a property's put).
        if (!member || member->params.empty()) member = &f;
    }
    if (!member) return DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        for (std::size_t p = 0; names[i] && p < member->params.size(); ++p)
            if (SameName(member->params[p].name, names[i])) ids[i] = static_cast<DISPID>(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TypeInfo::GetDocumentation(DISPID memid, std::string* name, std::string* helpString) const {
    for (const FuncDesc& f : m_Funcs) {
        if (f.memid != memid) continue;
        if (name) *name = f.name;
        if (helpString) *helpString = f.helpString;
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

const FuncDesc* TypeInfo::FindFunc(DISPID memid, WORD flags) const {
    for (const FuncDesc& f : m_Funcs)
        if (f.memid == memid && (f.invkind & flags) != 0) return &f;
    return nullptr;
}

HRESULT TypeInfo::Invoke(IDispatch* self, DISPID memid, WORD flags, const DispParams* params, Variant* result,
                         ExcepInfo* excepInfo, UINT* argErr) const {
    if (!self) return E_INVALIDARG;
    const DispParams none;
    const DispParams& p = params ? *params : none;
    const FuncDesc* f = FindFunc(memid, flags);
    if (!f) return DISP_E_MEMBERNOTFOUND;

    const std::size_t nArgs = p.args.size();
    const std::size_t nNamed = p.namedArgs.size();
    const std::size_t nParams = f->params.size();
    if (nNamed > nArgs) return E_INVALIDARG;
    const auto fail = [argErr](std::size_t argIndex, HRESULT hr) {
        if (argErr) *argErr = static_cast<UINT>(argIndex);
        return hr;
    };

    // Bring the arguments into declaration order; source[i] is the index in p.args.
    std::vector<const Variant*> ordered(nParams, nullptr);
    std::vector<std::size_t> source(nParams, 0);
    if (f->invkind == DISPATCH_PROPERTYPUT) {
        if (nArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (nNamed == 1 && p.namedArgs[0] != DISPID_PROPERTYPUT) return fail(0, DISP_E_PARAMNOTFOUND);
        ordered[0] = &p.args[0];
    } else {
        if (nArgs > nParams) return DISP_E_BADPARAMCOUNT;
        const std::size_t nPositional = nArgs - nNamed;
        for (std::size_t i = 0; i < nPositional; ++i) {
            source[i] = nArgs - 1 - i;
            ordered[i] = &p.args[source[i]];
        }
        for (std::size_t k = 0; k < nNamed; ++k) {
            const DISPID d = p.namedArgs[k];
            if (d < 0 || static_cast<std::size_t>(d) >= nParams || ordered[static_cast<std::size_t>(d)])
                return fail(k, DISP_E_PARAMNOTFOUND);
            ordered[static_cast<std::size_t>(d)] = &p.args[k];
            source[static_cast<std::size_t>(d)] = k;
        }
    }

    std::vector<Variant> converted(nParams);
    for (std::size_t i = 0; i < nParams; ++i) {
        if (!ordered[i] || IsMissing(*ordered[i])) return DISP_E_PARAMNOTOPTIONAL;
        if (HRESULT hr = ChangeType(*ordered[i], f->params[i].type, converted[i]); Failed(hr)) return fail(source[i], hr);
    }

    if (result) *result = Variant();
    SetErrorInfo(std::nullopt);  // what the member reports, not what an earlier call left
    const HRESULT hr = f->thunk(self, converted.data(), result);
    if (Succeeded(hr)) return S_OK;
    const std::optional<ErrorInfo> info = GetErrorInfo();
    if (excepInfo) {
        *excepInfo = ExcepInfo{};
        excepInfo->scode = hr;
        if (info) {
            excepInfo->source = Bstr(info->source);
            excepInfo->description = Bstr(info->description);
            excepInfo->helpFile = Bstr(info->helpFile);
            excepInfo->helpContext = info->helpContext;
        }
    }
    return DISP_E_EXCEPTION;
}

const TypeInfo* TypeLib::FindInterface(const IID& iid) const {
    for (const TypeInfo& t : interfaces)
        if (t.Guid() == iid) return &t;
    return nullptr;
}

const CoClassInfo* TypeLib::FindCoClass(const CLSID& clsid) const {
    for (const CoClassInfo& c : coclasses)
        if (c.clsid == clsid) return &c;
    return nullptr;
}

} // namespace velq3
