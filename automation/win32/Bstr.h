// Strings handed across the automation boundary on Windows: one owned system BSTR (UTF-16),
// laid out as the BSTR itself, so that a `Bstr*` out parameter of an interface member is the
// `BSTR*` of the type library. Members write their results into out slots that the caller
// (Invoke, the marshaller's stub) has cleared.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>
#include <oleauto.h>

namespace velq3 {

class Bstr {
public:
    Bstr() = default;
    // From UTF-8.
    explicit Bstr(std::string_view utf8);
    Bstr(const Bstr& o) : m_p(o.m_p ? ::SysAllocStringLen(o.m_p, ::SysStringLen(o.m_p)) : nullptr) {}
    Bstr(Bstr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    Bstr& operator=(Bstr o) noexcept {
        BSTR old = m_p;
        m_p = o.m_p;
        o.m_p = old;
        return *this;
    }
    ~Bstr() { ::SysFreeString(m_p); }

    // Device text (8-bit, zero-terminated): well-formed UTF-8 is kept, every other byte is
    // read as Windows-1252. The text ends at the first zero byte.
    static Bstr FromDeviceText(std::string_view bytes);
    // Takes over a BSTR the caller owns.
    static Bstr Attach(BSTR p) {
        Bstr b;
        b.m_p = p;
        return b;
    }

    BSTR Get() const { return m_p; }
    // Gives up ownership (for a VARIANT or an out parameter).
    BSTR Detach() {
        BSTR p = m_p;
        m_p = nullptr;
        return p;
    }
    bool empty() const { return !m_p || ::SysStringLen(m_p) == 0; }
    // The text as UTF-8.
    std::string str() const;

private:
    BSTR m_p = nullptr;
};

static_assert(sizeof(Bstr) == sizeof(BSTR), "a Bstr out parameter is a BSTR out parameter");

// UTF-16 <-> UTF-8 for the system's wide-character functions.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(const wchar_t* text, std::size_t length);

} // namespace velq3
