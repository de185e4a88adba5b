// velq3-ctl for Windows: the same command-line automation client as on Linux, over real COM.
// It creates one object by ProgID (CLSIDFromProgID, CoCreateInstance with
// CLSCTX_LOCAL_SERVER, which starts velq3.exe when needed) and applies each OP to it through
// GetIDsOfNames and Invoke, one output line per OP.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/CtlOperation.h"
#include "automation/HResultText.h"
#include "automation/Bstr.h"

namespace velq3::ctl {

namespace {

constexpr int kAllSucceeded = 0;
constexpr int kSomeFailed = 1;
constexpr int kNotCreated = 2;

void Usage(std::FILE* out) {
    std::fputs(
        "usage: velq3-ctl [--types] [--time] PROGID OP...\n"
        "       velq3-ctl --help\n"
        "Creates one automation object of PROGID (e.g. VELQ3.FilterWheel, or a braced CLSID),\n"
        "starting the server when none runs, and applies each OP to it in order:\n"
        "  Name              gets a property (or calls a method without arguments)\n"
        "  Name=value        puts a property\n"
        "  Name(arg,...)     calls a method; Name() without arguments\n"
        "  -                 reads further OPs from standard input, one per line\n"
        "Values: true, false, integers, decimal numbers, \"quoted text\" (\\\" and \\\\ inside),\n"
        "or any other bare text.\n"
        "Prints one line per OP: \"Name = value\" on success (a put shows the value put, a call\n"
        "without a result shows \"ok\"; booleans as true/false, arrays as [a, b, c] with strings\n"
        "in double quotes), or \"Name: error 0xXXXXXXXX description\" on failure.\n"
        "  --types   adds the result's type after each value, arrays with their dimensions and\n"
        "            bounds, e.g. {VT_ARRAY|VT_BSTR dims=1 lbound=0 ubound=4}\n"
        "  --time    prints the time of the creation and of each call on standard error\n"
        "Exit status: 0 when every OP succeeded, 1 when one failed, 2 when the object could not\n"
        "be created (or the command line is wrong).\n",
        out);
}

// A VARIANT that clears itself.
struct Var {
    VARIANT v;
    Var() { ::VariantInit(&v); }
    Var(const Var& o) {
        ::VariantInit(&v);
        ::VariantCopy(&v, const_cast<VARIANT*>(&o.v));
    }
    Var& operator=(const Var&) = delete;
    ~Var() { ::VariantClear(&v); }
};

Var Text(std::string_view s) {
    Var var;
    var.v.vt = VT_BSTR;
    var.v.bstrVal = Bstr(s).Detach();
    return var;
}

// One value as written: booleans, numbers, quoted or bare text.
std::optional<Var> ParseValue(std::string_view text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        std::string s;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            char c = text[i];
            if (c == '\\') {
                if (i + 2 >= text.size()) return std::nullopt;  // a backslash before the closing quote
                c = text[++i];
            } else if (c == '"') {
                return std::nullopt;
            }
            s += c;
        }
        return Text(s);
    }
    Var var;
    if (SameText(text, "true") || SameText(text, "false")) {
        var.v.vt = VT_BOOL;
        var.v.boolVal = SameText(text, "true") ? VARIANT_TRUE : VARIANT_FALSE;
        return var;
    }
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t i = 0;
    if (auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), i);
        ec == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
        if (i >= INT32_MIN && i <= INT32_MAX) {
            var.v.vt = VT_I4;
            var.v.lVal = static_cast<LONG>(i);
        } else {
            var.v.vt = VT_I8;
            var.v.llVal = i;
        }
        return var;
    }
    double d = 0;
    if (auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
        ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && std::isfinite(d)) {
        var.v.vt = VT_R8;
        var.v.dblVal = d;
        return var;
    }
    return Text(text);
}

using Operation = ctl::Operation<Var>;

std::optional<Operation> ParseOperation(std::string_view text) { return ctl::ParseOperation<Var>(text, ParseValue); }

std::string FormatNumber(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string BstrText(BSTR b) { return b ? Utf8FromWide(b, ::SysStringLen(b)) : std::string(); }

std::string Format(const VARIANT& v, bool inArray = false);

// A one-dimensional array of strings, integers or variants, element by element.
std::string FormatArray(const VARIANT& v) {
    SAFEARRAY* sa = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
    if (!sa) return "null";
    LONG lo = 0, hi = -1;
    ::SafeArrayGetLBound(sa, 1, &lo);
    ::SafeArrayGetUBound(sa, 1, &hi);
    const VARTYPE element = v.vt & VT_TYPEMASK;
    std::string out = "[";
    for (LONG i = lo; i <= hi; ++i) {
        if (out.size() > 1) out += ", ";
        Var item;
        if (element == VT_VARIANT) {
            ::SafeArrayGetElement(sa, &i, &item.v);
        } else if (element == VT_BSTR) {
            BSTR b = nullptr;
            ::SafeArrayGetElement(sa, &i, &b);
            item.v.vt = VT_BSTR;
            item.v.bstrVal = b;
        } else if (element == VT_I4) {
            item.v.vt = VT_I4;
            ::SafeArrayGetElement(sa, &i, &item.v.lVal);
        } else {
            return "?";
        }
        out += Format(item.v, true);
    }
    return out + "]";
}

std::string Format(const VARIANT& v, bool inArray) {
    if (v.vt & VT_ARRAY) return FormatArray(v);
    switch (v.vt) {
    case VT_EMPTY: return "ok";
    case VT_NULL: return "null";
    case VT_BOOL: return v.boolVal ? "true" : "false";
    case VT_R4: return FormatNumber(v.fltVal, 7);
    case VT_R8: return FormatNumber(v.dblVal, 15);
    case VT_BSTR: return inArray ? Quote(BstrText(v.bstrVal)) : BstrText(v.bstrVal);
    case VT_ERROR: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "error 0x%08X", static_cast<unsigned>(v.scode));
        return buf;
    }
    default: {
        Var text;
        if (SUCCEEDED(::VariantChangeType(&text.v, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
            return BstrText(text.v.bstrVal);
        return "?";
    }
    }
}

std::string TypeName(VARTYPE vt) {
    static const std::pair<VARTYPE, const char*> names[] = {
        {VT_EMPTY, "VT_EMPTY"}, {VT_NULL, "VT_NULL"}, {VT_I2, "VT_I2"},   {VT_I4, "VT_I4"},
        {VT_R4, "VT_R4"},       {VT_R8, "VT_R8"},     {VT_BSTR, "VT_BSTR"}, {VT_ERROR, "VT_ERROR"},
        {VT_BOOL, "VT_BOOL"},   {VT_VARIANT, "VT_VARIANT"}, {VT_I8, "VT_I8"}, {VT_UI1, "VT_UI1"},
    };
    std::string out = (vt & VT_ARRAY) ? "VT_ARRAY|" : "";
    for (const auto& [t, name] : names)
        if (t == (vt & VT_TYPEMASK)) return out + name;
    return out + std::to_string(vt & VT_TYPEMASK);
}

// The type of a result, with an array's dimensions, bounds and element type as stored.
std::string Describe(const VARIANT& v) {
    char buf[160];
    const std::string type = TypeName(v.vt);
    if ((v.vt & VT_ARRAY) && v.parray) {
        SAFEARRAY* sa = v.parray;
        LONG lo = 0, hi = -1;
        ::SafeArrayGetLBound(sa, 1, &lo);
        ::SafeArrayGetUBound(sa, 1, &hi);
        VARTYPE stored = VT_EMPTY;
        ::SafeArrayGetVartype(sa, &stored);
        std::snprintf(buf, sizeof buf, "{%s dims=%u lbound=%ld ubound=%ld elements=%s}", type.c_str(),
                      ::SafeArrayGetDim(sa), static_cast<long>(lo), static_cast<long>(hi), TypeName(stored).c_str());
    } else {
        std::snprintf(buf, sizeof buf, "{%s}", type.c_str());
    }
    return buf;
}

void PrintFailure(const std::string& name, HRESULT hr, const std::string& description) {
    std::printf("%s: error 0x%08X %s\n", name.c_str(), static_cast<unsigned>(hr),
                description.empty() ? HResultMessage(hr).c_str() : description.c_str());
}

// The description of the thread's error information, when there is one.
std::string TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::string text = BstrText(description);
    ::SysFreeString(description);
    return text;
}

struct Options {
    bool types = false;
    bool time = false;
};

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Applies one OP; true when it succeeded.
bool Apply(IDispatch* object, std::string_view text, const Options& options) {
    const auto op = ParseOperation(text);
    if (!op) {
        PrintFailure(std::string(Trim(text)), E_INVALIDARG, "");
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    std::wstring wideName = WideFromUtf8(op->name);
    LPOLESTR name = wideName.data();
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        PrintFailure(op->name, hr, TakeErrorDescription());
        return false;
    }
    std::vector<VARIANT> args;
    for (auto it = op->args.rbegin(); it != op->args.rend(); ++it) args.push_back(it->v);  // the last argument first
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    DISPID putId = DISPID_PROPERTYPUT;
    WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    if (op->kind == Operation::Kind::Put) {
        flags = DISPATCH_PROPERTYPUT;
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    Var result;
    EXCEPINFO excep{};
    UINT argErr = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result.v, &excep, &argErr);
    if (options.time) std::fprintf(stderr, "velq3-ctl: %s took %.2f ms\n", op->name.c_str(), MsSince(start));
    if (FAILED(hr)) {
        if (hr == DISP_E_EXCEPTION) {
            if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
            const HRESULT own = FAILED(excep.scode) ? excep.scode : hr;
            PrintFailure(op->name, own, BstrText(excep.bstrDescription));
        } else {
            PrintFailure(op->name, hr, TakeErrorDescription());
        }
        ::SysFreeString(excep.bstrSource);
        ::SysFreeString(excep.bstrDescription);
        ::SysFreeString(excep.bstrHelpFile);
        return false;
    }
    const VARIANT& shown = op->kind == Operation::Kind::Put ? op->args[0].v : result.v;
    if (options.types) std::printf("%s = %s %s\n", op->name.c_str(), Format(shown).c_str(), Describe(shown).c_str());
    else std::printf("%s = %s\n", op->name.c_str(), Format(shown).c_str());
    return true;
}

int Main(const std::vector<std::string>& argv) {
    Options options;
    std::size_t first = 1;
    for (; first < argv.size(); ++first) {
        if (argv[first] == "--types") options.types = true;
        else if (argv[first] == "--time") options.time = true;
        else break;
    }
    if (first < argv.size() && (argv[first] == "--help" || argv[first] == "-h")) {
        Usage(stdout);
        return kAllSucceeded;
    }
    if (first >= argv.size() || argv[first][0] == '-') {
        Usage(stderr);
        return kNotCreated;
    }
    const std::string& progId = argv[first];
    const auto start = std::chrono::steady_clock::now();
    CLSID clsid{};
    const std::wstring wideProgId = WideFromUtf8(progId);
    HRESULT hr = progId.front() == '{' ? ::CLSIDFromString(wideProgId.c_str(), &clsid)
                                       : ::CLSIDFromProgID(wideProgId.c_str(), &clsid);
    IDispatch* object = nullptr;
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        std::fprintf(stderr, "velq3-ctl: cannot create %s: error 0x%08X %s\n", progId.c_str(),
                     static_cast<unsigned>(hr), HResultMessage(hr).c_str());
        return kNotCreated;
    }
    if (options.time) std::fprintf(stderr, "velq3-ctl: creating %s took %.2f ms\n", progId.c_str(), MsSince(start));
    bool allSucceeded = true;
    for (std::size_t i = first + 1; i < argv.size(); ++i) {
        if (argv[i] != "-") {
            allSucceeded = Apply(object, argv[i], options) && allSucceeded;
            std::fflush(stdout);
            continue;
        }
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (Trim(line).empty()) continue;
            allSucceeded = Apply(object, line, options) && allSucceeded;
            std::fflush(stdout);
        }
    }
    object->Release();
    return allSucceeded ? kAllSucceeded : kSomeFailed;
}

} // namespace

} // namespace velq3::ctl

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(velq3::Utf8FromWide(argv[i], std::wcslen(argv[i])));
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "velq3-ctl: OLE cannot be initialised\n");
        return 2;
    }
    const int code = velq3::ctl::Main(args);
    ::CoUninitialize();
    return code;
}
