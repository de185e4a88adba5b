// "<device name> Focuser 2": the second motor as a focuser. Offered (defined for clients) only
// once a connection has read the controller's second-focuser mode, and withdrawn when a later
// connection reads another mode.
#pragma once

#include "indi/FocuserBase.h"

namespace velq3::indi {

class Focuser2Device : public FocuserBase {
public:
    Focuser2Device(Velq3Driver& driver, const std::string& mainName)
        : FocuserBase(driver, DeviceKind::Focuser2, mainName + " Focuser 2", 1) {}

    void ModeRead(std::int8_t mode) override;

protected:
    bool Offered() const override { return m_Offered; }

private:
    bool m_Offered = false;
};

} // namespace velq3::indi
