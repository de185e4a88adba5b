// UTF-8 text to and from the UTF-16 of the Win32 wide functions (for the Windows bodies only).
#pragma once

#include <string>
#include <string_view>

namespace velq3::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The system's text for a Win32 error code, without the trailing line break.
std::string ErrorText(unsigned long code);

}  // namespace velq3::win32
