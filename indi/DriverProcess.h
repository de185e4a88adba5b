// The driver process's one object: the shared driver state and its five devices.
#pragma once

#include "indi/CoverDevice.h"
#include "indi/Focuser2Device.h"
#include "indi/FocuserDevice.h"
#include "indi/RotatorDevice.h"
#include "indi/Velq3Driver.h"
#include "indi/WheelDevice.h"

namespace velq3::indi {

struct DriverProcess {
    // Built first, destroyed last. Its threads never call a device: results reach the devices
    // only through libindi's loop, which has stopped when the process object goes.
    Velq3Driver driver;
    WheelDevice wheel{driver};
    FocuserDevice focuser{driver};
    Focuser2Device focuser2{driver};
    RotatorDevice rotator{driver};
    CoverDevice cover{driver};
};

} // namespace velq3::indi
