// Result code texts on Windows: the system's message table first; the codes it has no text for
// (Wine's table lacks the dispatch codes) from the automation layer's own table.
#include "automation/HResultText.h"

#include <windows.h>

#include <cctype>

#include "automation/win32/Bstr.h"

namespace velq3 {

std::string HResultMessage(HRESULT hr) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n ? Utf8FromWide(text, n) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) message.pop_back();
    if (!message.empty()) return message;
    if (const char* known = KnownHResultText(hr)) return known;
    return UnknownHResultText(hr);
}

} // namespace velq3
