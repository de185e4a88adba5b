// Error information of the calling thread: the description, source and interface of the
// last failure that a member reported, as clients read it after a failed call.
#pragma once

#ifdef _WIN32
#include "automation/win32/ErrorInfo.h"
#else

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/Guid.h"
#include "automation/HResult.h"

namespace velq3 {

struct ErrorInfo {
    IID iid;                 // the interface whose member failed
    std::string source;      // the object's ProgID
    std::string description;
    std::string helpFile;
    std::uint32_t helpContext = 0;
};

// Replaces this thread's error information; nothing clears it.
void SetErrorInfo(std::optional<ErrorInfo> info);
// Takes this thread's error information: a second call gives nothing.
std::optional<ErrorInfo> GetErrorInfo();

// Sets the error information for a failing member and returns `hr`, for `return ReportError(...)`.
HRESULT ReportError(const IID& iid, std::string_view source, std::string_view description, HRESULT hr);

} // namespace velq3

#endif // _WIN32
