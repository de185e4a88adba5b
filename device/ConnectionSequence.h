// The connection sequence that every driver's Connected (or Link) property runs.
#pragma once

#include <cstdint>
#include <functional>

#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"

namespace velq3 {

// Whether the device's mode byte fits a driver's kind of device.
using ModeCondition = std::function<bool(std::int8_t mode)>;

// Runs the put sequence for `client` with the requested automation boolean `value` (true
// arrives as -1). Logs "<className>::<member>(%i)\n" first. Returns true for success (the
// driver's S_OK) and false for E_FAIL.
bool RunConnectSequence(OrnFilterWheel& fw, ClientId client, int value, const char* className, const char* member,
                        const ModeCondition& modeOk, IClientWindow& window);

// The getter: logs "<className>::<member>(%i)\n" with -1 or 0 and returns whether `client`
// holds the link.
bool ConnectionState(OrnFilterWheel& fw, ClientId client, const char* className, const char* member);

} // namespace velq3
