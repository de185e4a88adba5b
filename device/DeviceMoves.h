// Command sequences that the automation objects and the device service run the same way.
#pragma once

#include "device/OrnFilterWheel.h"

namespace velq3 {

// Pause before the one retry of a failed filter change.
inline constexpr int kSelectFilterRetryDelayMs = 200;

// Changes the filter; a failed change is tried once more after the pause.
bool SelectFilterWithRetry(OrnFilterWheel& fw, int position);

// The position a move relative to focuser `focuser`'s motor starts from. When the status does
// not hold it (never carried, or lost by a failed move) it is asked of the controller first,
// with that motor's query; false when it cannot be had.
bool PositionForRelativeMove(OrnFilterWheel& fw, int focuser, std::int32_t& position);

// Moves the cover a whole travel up (open) or down from where the second motor stands, then
// sets the motor's counter to the end position (the travel when open, 0 when closed). Logs
// "m_FW.GoToPosition(%i)\n" first. Fails, sending no move, when the position cannot be had.
bool MoveCoverTravel(OrnFilterWheel& fw, bool open);

} // namespace velq3
