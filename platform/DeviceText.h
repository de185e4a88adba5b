// The device's 8-bit names as the valid UTF-8 that clients and the window receive.
#pragma once

#include <string>
#include <string_view>

namespace velq3 {

// Kept as it is where it is well-formed UTF-8, else each byte taken as Windows-1252 (the five
// bytes that code page leaves unassigned become the C1 control of the same number); cut at the
// first zero byte.
std::string DeviceTextToUtf8(std::string_view bytes);

} // namespace velq3
