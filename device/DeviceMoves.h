// Command sequences that the automation objects and the device service run the same way.
#pragma once

#include "device/OrnFilterWheel.h"

namespace velq3 {

// Pause before the one retry of a failed filter change.
inline constexpr int kSelectFilterRetryDelayMs = 200;

// Changes the filter; a failed change is tried once more after the pause.
bool SelectFilterWithRetry(OrnFilterWheel& fw, int position);

// Moves the cover a whole travel up (open) or down, then sets the motor's counter to the end
// position (the travel when open, 0 when closed). Logs "m_FW.GoToPosition(%i)\n" first.
bool MoveCoverTravel(OrnFilterWheel& fw, bool open);

} // namespace velq3
