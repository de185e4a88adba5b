// The built-in focuser: connects in any device mode; compensation and temperature from the
// device status.
#include "drivers/CFocuser.h"

#include "drivers/DriverClasses.h"

namespace velq3 {

CFocuser::CFocuser(DriverContext& ctx) : CFocuserBase(ctx, "CFocuser", kProgIdFocuser, 0, ModeCondition{}) {}

HRESULT CFocuser::get_TempComp(VariantBool* value) {
    if (!value) return E_POINTER;
    const std::int32_t sensor = m_FW.AutoComp;
    m_FW.Log("CFocuser::get_TempComp(%i)\n", sensor);
    *value = ToVariantBool(sensor >= 0);
    return S_OK;
}

HRESULT CFocuser::put_TempComp(VariantBool value) {
    m_FW.Log("CFocuser::put_TempComp(%i)\n", RawValue(value));
    return ResultOf(m_FW.SetAutoComp(IsTrue(value) ? m_FW.AscomPreferredTermometer : -1));
}

HRESULT CFocuser::get_TempCompAvailable(VariantBool* value) {
    if (!value) return E_POINTER;
    *value = VARIANT_TRUE;
    m_FW.Log("CFocuser::get_TempCompAvailable(1)\n");
    return S_OK;
}

HRESULT CFocuser::get_Temperature(double* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_Temperature");
    const bool ok = SelectTemperature(*value);
    m_FW.Log("CFocuser::get_Temperature(%f)\n", *value);
    return ResultOf(ok);
}

} // namespace velq3
