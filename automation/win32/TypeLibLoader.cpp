// The registered type library, loaded once and kept.
#include "automation/win32/TypeLibLoader.h"

#include <oleauto.h>

namespace velq3 {

namespace {
constexpr LCID kTypeLibLocale = 0x409;
}

TypeLibLoader::~TypeLibLoader() {
    if (m_Lib) m_Lib->Release();
}

HRESULT TypeLibLoader::GetTypeInfoOfGuid(const IID& iid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ITypeLib* lib = nullptr;
    {
        std::lock_guard lock(m_Mutex);
        if (!m_Lib) {
            // The library's own locale (0x409): the lookup falls back from it to its primary
            // language and to locale 0, not the other way round.
            if (HRESULT hr = ::LoadRegTypeLib(m_Libid, m_Major, m_Minor, kTypeLibLocale, &m_Lib); Failed(hr)) {
                m_Lib = nullptr;
                return hr;
            }
        }
        lib = m_Lib;
    }
    return lib->GetTypeInfoOfGuid(iid, out);
}

bool TypeLibLoader::IsLoaded() {
    std::lock_guard lock(m_Mutex);
    return m_Lib != nullptr;
}

} // namespace velq3
