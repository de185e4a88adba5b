// Automation values on Windows: the system's VARIANT_BOOL (-1 true, 0 false) with its
// VARIANT_TRUE and VARIANT_FALSE; strings and arrays (Bstr.h, SafeArray.h). Late-bound
// arguments are the system's VARIANT, converted by ITypeInfo::Invoke.
#pragma once

#include <cstdint>

#include <windows.h>
#include <oleauto.h>

#include "automation/Bstr.h"
#include "automation/SafeArray.h"

namespace velq3 {

using VariantBool = ::VARIANT_BOOL;

constexpr VariantBool ToVariantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }
constexpr std::int16_t RawValue(VariantBool b) { return b; }
// Any non-zero value counts as true.
constexpr bool IsTrue(VariantBool b) { return b != 0; }

} // namespace velq3
