// FilterWheel members over the device object.
#include "drivers/CFilterWheelImpl.h"

#include "automation/ErrorInfo.h"
#include "device/DeviceMoves.h"
#include "device/DeviceRules.h"
#include "drivers/DriverClasses.h"

namespace velq3 {

HRESULT CFilterWheelImpl::get_Connected(VariantBool* value) { return GetConnection("get_Connected", value); }

HRESULT CFilterWheelImpl::put_Connected(VariantBool value) {
    return PutConnection("put_Connected", value, [](std::int8_t mode) { return ModeFits(DeviceKind::FilterWheel, mode); });
}

HRESULT CFilterWheelImpl::get_FocusOffsets(SafeArray<std::int32_t>* value) {
    if (!value) return E_POINTER;
    m_FW.Log("CFilterWheelImpl::get_FocusOffsets()\n");
    *value = SafeArray<std::int32_t>(m_FW.MakeFocusOffsetsArray());
    return S_OK;
}

HRESULT CFilterWheelImpl::get_Names(SafeArray<Bstr>* value) {
    if (!value) return E_POINTER;
    m_FW.Log("CFilterWheelImpl::get_Names()\n");
    std::vector<Bstr> names;
    for (const std::string& name : m_FW.MakeNamesArray()) names.push_back(Bstr::FromDeviceText(name));
    *value = SafeArray<Bstr>(std::move(names));
    return S_OK;
}

HRESULT CFilterWheelImpl::put_Position(std::int16_t value) {
    const int position = value;
    if (position == m_FW.CurrentFilter) return S_OK;
    // A slot the wheel does not have would be sent as a stray byte and then waited for in
    // vain, twice; refuse it while the filter list is known.
    const int count = m_FW.FilterCount();
    if (count > 0 && (position < 0 || position >= count)) {
        m_FW.Log("CFilterWheelImpl::put_Position(%i)\n", position);
        return E_INVALIDARG;
    }
    const bool ok = SelectFilterWithRetry(m_FW, position);
    m_FW.Log("CFilterWheelImpl::put_Position(%i)\n", position);
    return ResultOf(ok);
}

HRESULT CFilterWheelImpl::get_Position(std::int16_t* value) {
    if (!value) return E_POINTER;
    if (m_FW.ReadingsStale()) return NoAnswer("get_Position");
    *value = static_cast<std::int16_t>(m_FW.CurrentFilter);
    m_FW.Log("CFilterWheelImpl::get_Position(%i)\n", m_FW.CurrentFilter);
    return S_OK;
}

HRESULT CFilterWheelImpl::SetupDialog() { return ShowSetupDialog(); }

} // namespace velq3
