// Error information on Windows: the calling thread's IErrorInfo (oleaut32), which Invoke and
// the marshaller hand to the client with a failed call.
#pragma once

#include <string_view>

#include "automation/Guid.h"
#include "automation/HResult.h"

namespace velq3 {

// Sets the thread's error information (interface, source, description) for a failing
// member and returns `hr`, for `return ReportError(...)`.
HRESULT ReportError(const IID& iid, std::string_view source, std::string_view description, HRESULT hr);

} // namespace velq3
