// The second focuser: connects only in Second Focuser Mode (mode 0); reports a temperature
// but cannot compensate.
#include "drivers/CFocuser2.h"

#include "drivers/DriverClasses.h"

namespace velq3 {

CFocuser2::CFocuser2(DriverContext& ctx)
    : CFocuserBase(ctx, "CFocuser2", kProgIdFocuser2, 1, [](std::int8_t mode) { return ModeFits(DeviceKind::Focuser2, mode); }) {}

HRESULT CFocuser2::get_TempComp(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_FALSE;
    return S_OK;
}

HRESULT CFocuser2::put_TempComp(VariantBool value) {
    m_FW.Log("CFocuser2::put_TempComp(%i)\n", RawValue(value));
    return E_FAIL;
}

HRESULT CFocuser2::get_TempCompAvailable(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_FALSE;
    return S_OK;
}

HRESULT CFocuser2::get_Temperature(double* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_Temperature");
    SelectTemperature(*value);
    m_FW.Log("CFocuser2::get_Temperature(%f)\n", *value);
    return S_OK;
}

} // namespace velq3
