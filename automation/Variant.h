// The automation VARIANT: one value of any type that late-bound calls pass and return, with
// the conversions Invoke applies to arguments.
#pragma once

#ifdef _WIN32
#include "automation/win32/Variant.h"
#else

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "automation/Bstr.h"
#include "automation/HResult.h"
#include "automation/SafeArray.h"

namespace velq3 {

// Automation boolean: -1 true, 0 false. A distinct type so that it is never mistaken for a
// 16-bit integer; a caller may still pass any 16-bit value (some members look at it).
enum class VariantBool : std::int16_t {};
inline constexpr VariantBool VARIANT_TRUE = VariantBool(-1);
inline constexpr VariantBool VARIANT_FALSE = VariantBool(0);

constexpr VariantBool ToVariantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }
constexpr std::int16_t RawValue(VariantBool b) { return static_cast<std::int16_t>(b); }
// Any non-zero value counts as true.
constexpr bool IsTrue(VariantBool b) { return RawValue(b) != 0; }

using VARTYPE = std::uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_ARRAY = 0x2000;

struct NullValue {
    friend bool operator==(NullValue, NullValue) { return true; }
};
// VT_ERROR: an error code; DISP_E_PARAMNOTFOUND marks an omitted optional argument.
struct ErrorValue {
    HRESULT scode = 0;
    friend bool operator==(ErrorValue, ErrorValue) = default;
};

class Variant {
public:
    using Storage = std::variant<std::monostate, NullValue, std::int16_t, std::int32_t, float, double, Bstr, ErrorValue,
                                 VariantBool, std::int8_t, std::uint8_t, std::uint16_t, std::uint32_t, std::int64_t,
                                 std::uint64_t, SafeArray<Bstr>, SafeArray<std::int32_t>>;

    Variant() = default;
    // std::conjunction stops at a Variant argument, so copying never asks whether Storage can
    // be made from a Variant (which would need Variant to be complete).
    template <class T, class = std::enable_if_t<std::conjunction_v<
                           std::negation<std::is_same<std::decay_t<T>, Variant>>,
                           std::is_constructible<Storage, std::in_place_type_t<std::decay_t<T>>, T>>>>
    Variant(T&& value) : m_Value(std::in_place_type<std::decay_t<T>>, std::forward<T>(value)) {}

    // An omitted optional argument, as late-bound callers mark it.
    static Variant Missing() { return Variant(ErrorValue{DISP_E_PARAMNOTFOUND}); }

    VARTYPE vt() const;
    bool IsEmpty() const { return m_Value.index() == 0; }

    template <class T>
    const T* GetIf() const { return std::get_if<T>(&m_Value); }
    template <class T>
    const T& Get() const { return std::get<T>(m_Value); }

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    Storage m_Value;
};

// The VARTYPE of a C++ value type that a Variant holds.
template <class T> constexpr VARTYPE kVarTypeOf = VT_EMPTY;
template <> inline constexpr VARTYPE kVarTypeOf<std::int16_t> = VT_I2;
template <> inline constexpr VARTYPE kVarTypeOf<std::int32_t> = VT_I4;
template <> inline constexpr VARTYPE kVarTypeOf<float> = VT_R4;
template <> inline constexpr VARTYPE kVarTypeOf<double> = VT_R8;
template <> inline constexpr VARTYPE kVarTypeOf<Bstr> = VT_BSTR;
template <> inline constexpr VARTYPE kVarTypeOf<VariantBool> = VT_BOOL;
template <> inline constexpr VARTYPE kVarTypeOf<SafeArray<Bstr>> = VT_ARRAY | VT_BSTR;
template <> inline constexpr VARTYPE kVarTypeOf<SafeArray<std::int32_t>> = VT_ARRAY | VT_I4;

// Converts `in` to type `to` as late-bound argument passing does: numbers to numbers with
// rounding half to even and DISP_E_OVERFLOW when out of range, booleans as -1 / 0, text to
// numbers and booleans ("True", "False" or a number) and back, empty to 0, "" or false.
// Anything else (null, error codes, arrays of another type) is DISP_E_TYPEMISMATCH; an
// unknown target type is DISP_E_BADVARTYPE. `out` is changed only on success.
HRESULT ChangeType(const Variant& in, VARTYPE to, Variant& out);

// Name of a type for messages, e.g. "VT_I4".
std::string VarTypeName(VARTYPE vt);

} // namespace velq3

#endif // _WIN32
