// Result codes of automation calls: the system's own HRESULT and its codes (winerror.h).
#pragma once

#include <windows.h>

namespace velq3 {

using ::HRESULT;

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

} // namespace velq3
