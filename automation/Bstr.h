// Strings handed across the automation boundary. A Bstr is a value: whoever holds one owns
// it, so every string a member returns is the caller's own copy. The text is UTF-8.
#pragma once

#ifdef _WIN32
#include "automation/win32/Bstr.h"
#else

#include <string>
#include <string_view>

namespace velq3 {

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8) : m_Text(utf8) {}

    // Device text (8-bit, zero-terminated): well-formed UTF-8 is kept, every other byte is
    // read as Windows-1252, so clients always get valid UTF-8. The text ends at the first
    // zero byte.
    static Bstr FromDeviceText(std::string_view bytes);

    const std::string& str() const { return m_Text; }
    const char* c_str() const { return m_Text.c_str(); }
    bool empty() const { return m_Text.empty(); }

    friend bool operator==(const Bstr&, const Bstr&) = default;
    friend bool operator==(const Bstr& a, std::string_view b) { return a.m_Text == b; }

private:
    std::string m_Text;
};

} // namespace velq3

#endif // _WIN32
