#include "indi/Focuser2Device.h"

namespace velq3::indi {

void Focuser2Device::ModeRead(std::int8_t mode) {
    const bool fits = ModeFits(DeviceKind::Focuser2, mode);
    if (fits == m_Offered) return;
    if (fits) {
        m_Offered = true;
        // Defines the device for every client, as a getProperties would.
        ISGetProperties(nullptr);
        LOG_INFO("The controller's second motor is a focuser: this device is offered");
    } else if (!isConnected()) {
        deleteProperty(nullptr);
        m_Offered = false;
    }
}

} // namespace velq3::indi
