// BSTR strings from and to UTF-8, and the device's 8-bit text as clients receive it.
#include "automation/Bstr.h"

#include "platform/DeviceText.h"

namespace velq3 {

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
    if (!text || length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

Bstr::Bstr(std::string_view utf8) {
    const std::wstring wide = WideFromUtf8(utf8);
    m_p = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

Bstr Bstr::FromDeviceText(std::string_view bytes) { return Bstr(DeviceTextToUtf8(bytes)); }

std::string Bstr::str() const { return m_p ? Utf8FromWide(m_p, ::SysStringLen(m_p)) : std::string(); }

} // namespace velq3
