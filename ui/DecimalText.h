// Decimal numbers read out of what the operator typed, independent of the process locale
// (the dialogs' edits always use a point as the decimal separator).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velq3::ui {

// The decimal number at the start of `text` (leading blanks skipped, optional sign, digits
// with an optional fraction and exponent), as a C program's atof reads it; nothing when the
// text does not start with a number or the number is beyond the double range.
std::optional<double> LeadingDecimal(std::string_view text);

// A whole signed decimal integer (blanks around it allowed) within the 64-bit range;
// nothing for anything else.
std::optional<std::int64_t> WholeInteger(std::string_view text);

}  // namespace velq3::ui
