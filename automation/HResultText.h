// The system's message text for a result code, as clients print it after a failed call.
#pragma once

#include <string>

#include "automation/HResult.h"

namespace velq3 {

// The text for a known code; "Unknown error 0xXXXXXXXX" otherwise.
std::string HResultMessage(HRESULT hr);

// The text of a code the automation layer produces (nullptr for others), and the text of any
// other code.
const char* KnownHResultText(HRESULT hr);
std::string UnknownHResultText(HRESULT hr);

} // namespace velq3
