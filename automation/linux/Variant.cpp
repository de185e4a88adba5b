// Variant type tags and the argument conversions of late-bound calls.
#include "automation/Variant.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace velq3 {

namespace {

// Storage index -> VARTYPE, in the order of Variant::Storage.
constexpr VARTYPE kTypeOfIndex[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,  VT_R4, VT_R8,           VT_BSTR,
                                    VT_ERROR, VT_BOOL, VT_I1,  VT_UI1, VT_UI2, VT_UI4,         VT_I8,
                                    VT_UI8,   VT_ARRAY | VT_BSTR, VT_ARRAY | VT_I4};
static_assert(std::size(kTypeOfIndex) == std::variant_size_v<Variant::Storage>);

// A scalar on its way between types: integers stay exact, everything else is a double.
using Number = std::variant<std::int64_t, std::uint64_t, double>;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::optional<double> ParseNumber(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The source as a number; an error result for types that never convert to one.
HRESULT ToNumber(const Variant& in, Number& out) {
    switch (in.vt()) {
    case VT_EMPTY: out = std::int64_t{0}; return S_OK;
    case VT_I1: out = std::int64_t{in.Get<std::int8_t>()}; return S_OK;
    case VT_I2: out = std::int64_t{in.Get<std::int16_t>()}; return S_OK;
    case VT_I4: out = std::int64_t{in.Get<std::int32_t>()}; return S_OK;
    case VT_I8: out = in.Get<std::int64_t>(); return S_OK;
    case VT_UI1: out = std::uint64_t{in.Get<std::uint8_t>()}; return S_OK;
    case VT_UI2: out = std::uint64_t{in.Get<std::uint16_t>()}; return S_OK;
    case VT_UI4: out = std::uint64_t{in.Get<std::uint32_t>()}; return S_OK;
    case VT_UI8: out = in.Get<std::uint64_t>(); return S_OK;
    case VT_R4: out = double{in.Get<float>()}; return S_OK;
    case VT_R8: out = in.Get<double>(); return S_OK;
    case VT_BOOL: out = std::int64_t{RawValue(in.Get<VariantBool>())}; return S_OK;
    case VT_BSTR: {
        const std::string& s = in.Get<Bstr>().str();
        if (EqualsIgnoreCase(Trim(s), "true")) { out = std::int64_t{-1}; return S_OK; }
        if (EqualsIgnoreCase(Trim(s), "false")) { out = std::int64_t{0}; return S_OK; }
        const std::optional<double> v = ParseNumber(s);
        if (!v) return DISP_E_TYPEMISMATCH;
        out = *v;
        return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

template <class T>
HRESULT ToInteger(const Number& n, Variant& out) {
    using Lim = std::numeric_limits<T>;
    if (const auto* i = std::get_if<std::int64_t>(&n)) {
        if (*i < static_cast<std::int64_t>(Lim::min()) ||
            (*i > 0 && static_cast<std::uint64_t>(*i) > static_cast<std::uint64_t>(Lim::max())))
            return DISP_E_OVERFLOW;
        out = Variant(static_cast<T>(*i));
        return S_OK;
    }
    if (const auto* u = std::get_if<std::uint64_t>(&n)) {
        if (*u > static_cast<std::uint64_t>(Lim::max())) return DISP_E_OVERFLOW;
        out = Variant(static_cast<T>(*u));
        return S_OK;
    }
    const double r = std::nearbyint(std::get<double>(n));  // half to even in the default mode
    // Bounds as doubles: max + 1 is a power of two and exact, max itself may not be.
    const double lo = static_cast<double>(Lim::min());
    const double hiExclusive = (static_cast<double>(Lim::max() / 2) + 1.0) * 2.0;
    if (!(r >= lo && r < hiExclusive)) return DISP_E_OVERFLOW;
    out = Variant(static_cast<T>(r));
    return S_OK;
}

double AsDouble(const Number& n) {
    return std::visit([](auto v) { return static_cast<double>(v); }, n);
}

bool IsZero(const Number& n) {
    return std::visit([](auto v) { return v == 0; }, n);
}

std::string Format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

HRESULT ToText(const Variant& in, Variant& out) {
    std::string text;
    switch (in.vt()) {
    case VT_EMPTY: break;
    case VT_BOOL: text = IsTrue(in.Get<VariantBool>()) ? "True" : "False"; break;
    case VT_R4: text = Format("%.7G", in.Get<float>()); break;
    case VT_R8: text = Format("%.15G", in.Get<double>()); break;
    default: {
        Number n;
        if (HRESULT hr = ToNumber(in, n); Failed(hr)) return hr;
        text = std::visit([](auto v) { return std::to_string(v); }, n);
    }
    }
    out = Variant(Bstr(text));
    return S_OK;
}

} // namespace

VARTYPE Variant::vt() const { return kTypeOfIndex[m_Value.index()]; }

HRESULT ChangeType(const Variant& in, VARTYPE to, Variant& out) {
    if (in.vt() == to) {
        out = in;
        return S_OK;
    }
    switch (to) {
    case VT_EMPTY: out = Variant(); return S_OK;
    case VT_BSTR: return ToText(in, out);
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_R4: case VT_R8: case VT_BOOL: break;
    case VT_NULL: case VT_ERROR: case VT_ARRAY | VT_BSTR: case VT_ARRAY | VT_I4: return DISP_E_TYPEMISMATCH;
    default: return DISP_E_BADVARTYPE;
    }
    Number n;
    if (HRESULT hr = ToNumber(in, n); Failed(hr)) return hr;
    switch (to) {
    case VT_BOOL: out = Variant(ToVariantBool(!IsZero(n))); return S_OK;
    case VT_I1: return ToInteger<std::int8_t>(n, out);
    case VT_I2: return ToInteger<std::int16_t>(n, out);
    case VT_I4: return ToInteger<std::int32_t>(n, out);
    case VT_I8: return ToInteger<std::int64_t>(n, out);
    case VT_UI1: return ToInteger<std::uint8_t>(n, out);
    case VT_UI2: return ToInteger<std::uint16_t>(n, out);
    case VT_UI4: return ToInteger<std::uint32_t>(n, out);
    case VT_UI8: return ToInteger<std::uint64_t>(n, out);
    case VT_R8: out = Variant(AsDouble(n)); return S_OK;
    case VT_R4: {
        const double d = AsDouble(n);
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        out = Variant(static_cast<float>(d));
        return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
    }
}

std::string VarTypeName(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_NULL: return "VT_NULL";
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_R4: return "VT_R4";
    case VT_R8: return "VT_R8";
    case VT_BSTR: return "VT_BSTR";
    case VT_ERROR: return "VT_ERROR";
    case VT_BOOL: return "VT_BOOL";
    case VT_I1: return "VT_I1";
    case VT_UI1: return "VT_UI1";
    case VT_UI2: return "VT_UI2";
    case VT_UI4: return "VT_UI4";
    case VT_I8: return "VT_I8";
    case VT_UI8: return "VT_UI8";
    case VT_ARRAY | VT_BSTR: return "VT_ARRAY|VT_BSTR";
    case VT_ARRAY | VT_I4: return "VT_ARRAY|VT_I4";
    default: return "VT_" + std::to_string(vt);
    }
}

} // namespace velq3
