// The driver process's one object: the shared driver state and its two devices, the
// controller's device and the second focuser, named after INDIDEV when set (KStars and Ekos
// start the driver with the label of its entry there).
#pragma once

#include <cstdlib>
#include <string>

#include "indi/ControllerDevice.h"
#include "indi/Focuser2Device.h"
#include "indi/Velq3Driver.h"

namespace velq3::indi {

inline constexpr const char* kDefaultDeviceName = "VELQ3";

// The controller device's name: `indidev` (INDIDEV) when set and not empty, else "VELQ3".
inline std::string MainDeviceName(const char* indidev) {
    return indidev && *indidev ? std::string(indidev) : std::string(kDefaultDeviceName);
}

struct DriverProcess {
    // Built first, destroyed last. Its threads never call a device: results reach the devices
    // only through libindi's loop, which has stopped when the process object goes.
    Velq3Driver driver;
    ControllerDevice controller{driver, MainDeviceName(std::getenv("INDIDEV"))};
    Focuser2Device focuser2{driver, controller.getDeviceName()};
};

} // namespace velq3::indi
