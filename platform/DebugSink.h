// The diagnostic channel that always receives log lines (standard error on Linux).
#pragma once

#include <string_view>

namespace velq3 {

// Writes the text as it is, with no line end added, in one write so that lines of
// concurrent writers do not interleave.
void DebugOutput(std::string_view text);

} // namespace velq3
