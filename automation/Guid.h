// 128-bit class, interface and library identifiers: parsing and formatting of the registry
// form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", comparison, and the system's own identifiers.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <guiddef.h>
#endif

namespace velq3 {

#ifdef _WIN32
// The system's own structure, so that identifiers pass to the COM functions as they are.
using Guid = ::GUID;
#else
struct Guid {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::array<std::uint8_t, 8> Data4{};

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
    friend constexpr auto operator<=>(const Guid&, const Guid&) = default;
};

using IID = Guid;
using CLSID = Guid;
#endif

namespace detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace detail

// Parses the braced registry form, hex digits in either case. Nothing for any other text.
constexpr std::optional<Guid> ParseGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t pos = 1;
    for (int i = 0; i < 16; ++i) {
        if (pos == 9 || pos == 14 || pos == 19 || pos == 24) {
            if (text[pos] != '-') return std::nullopt;
            ++pos;
        }
        const int hi = detail::HexDigit(text[pos]);
        const int lo = detail::HexDigit(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    if (pos != 37) return std::nullopt;
    Guid g{};
    g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (std::size_t i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    return g;
}

// For identifiers written in the source: a malformed literal fails to compile.
consteval Guid GuidLiteral(std::string_view text) {
    const std::optional<Guid> g = ParseGuid(text);
    if (!g) throw "malformed GUID literal";
    return *g;
}

// The braced registry form with upper-case hex digits.
std::string FormatGuid(const Guid& g);

#ifndef _WIN32
// On Windows the system's headers declare these.
inline constexpr IID IID_NULL{};
inline constexpr IID IID_IUnknown = GuidLiteral("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = GuidLiteral("{00000001-0000-0000-C000-000000000046}");
inline constexpr IID IID_IDispatch = GuidLiteral("{00020400-0000-0000-C000-000000000046}");
inline constexpr IID IID_ISupportErrorInfo = GuidLiteral("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
// The marshaller of interfaces described by a type library, named in their registration.
inline constexpr CLSID CLSID_PSOAInterface = GuidLiteral("{00020424-0000-0000-C000-000000000046}");
#endif

} // namespace velq3
