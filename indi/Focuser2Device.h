// "VELQ3 Focuser 2": the second motor as a focuser, in the controller's second-focuser mode.
#pragma once

#include "indi/FocuserBase.h"

namespace velq3::indi {

class Focuser2Device : public FocuserBase {
public:
    explicit Focuser2Device(Velq3Driver& driver) : FocuserBase(driver, DeviceKind::Focuser2, "VELQ3 Focuser 2", 1) {}
};

} // namespace velq3::indi
