// Reading numbers out of what the operator typed, as the window's boxes and cells take them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velq3::ui {

// The leading decimal integer of `text` (leading blanks skipped, optional sign), saturated to
// the 64-bit range; nothing when the text does not start with a number.
std::optional<std::int64_t> LeadingInteger(std::string_view text);

// The same, 0 when there is no number, saturated to the 32-bit range.
std::int32_t LeadingInt32(std::string_view text);

// A whole unsigned decimal number (blanks around it allowed); nothing for anything else,
// a sign included, or a value above the 32-bit signed range.
std::optional<std::int32_t> UnsignedNumber(std::string_view text);

// The low 16 bits of a value, read as a signed 16-bit number (70000 gives 4464).
std::int16_t Low16Signed(std::int64_t value);

}  // namespace velq3::ui
