// Error information through oleaut32's CreateErrorInfo and SetErrorInfo.
#include "automation/ErrorInfo.h"

#include <windows.h>
#include <oleauto.h>

#include "automation/Bstr.h"

namespace velq3 {

HRESULT ReportError(const IID& iid, std::string_view source, std::string_view description, HRESULT hr) {
    ICreateErrorInfo* create = nullptr;
    if (Failed(::CreateErrorInfo(&create))) return hr;
    const std::wstring wideSource = WideFromUtf8(source);
    const std::wstring wideDescription = WideFromUtf8(description);
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(wideSource.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(wideDescription.c_str()));
    IErrorInfo* info = nullptr;
    if (Succeeded(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        ::SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}

} // namespace velq3
