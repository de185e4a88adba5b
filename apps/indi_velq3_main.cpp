// indi_velq3: the INDI driver that indiserver starts. libindidriver supplies main() and hands
// every client request to the devices of the one driver object below.
#include "indi/DriverProcess.h"

namespace {
velq3::indi::DriverProcess g_Process;
}
