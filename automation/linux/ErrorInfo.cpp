// Per-thread error information: each thread sees only what its own calls reported, as in a
// single-threaded apartment.
#include "automation/ErrorInfo.h"

namespace velq3 {

namespace {
thread_local std::optional<ErrorInfo> t_ErrorInfo;
}

void SetErrorInfo(std::optional<ErrorInfo> info) { t_ErrorInfo = std::move(info); }

std::optional<ErrorInfo> GetErrorInfo() {
    std::optional<ErrorInfo> info = std::move(t_ErrorInfo);
    t_ErrorInfo.reset();
    return info;
}

HRESULT ReportError(const IID& iid, std::string_view source, std::string_view description, HRESULT hr) {
    SetErrorInfo(ErrorInfo{iid, std::string(source), std::string(description), {}, 0});
    return hr;
}

} // namespace velq3
