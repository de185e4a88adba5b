// Connect or disconnect one client, check the device mode, and show or hide the main window
// when the port opened or closed.
#include "device/ConnectionSequence.h"

namespace velq3 {

bool RunConnectSequence(OrnFilterWheel& fw, ClientId client, int value, const char* className, const char* member,
                        const ModeCondition& modeOk, IClientWindow& window) {
    const auto requested = static_cast<std::int16_t>(value);
    fw.Log("%s::%s(%i)\n", className, member, static_cast<int>(requested));
    const bool openBefore = fw.IsOpen();
    bool ok = true;
    if (requested == 0) {
        fw.DisconnectMulti(client);
    } else if (!fw.ConnectMulti(client)) {
        ok = false;
    } else if (modeOk && !modeOk(fw.Mode)) {
        fw.DisconnectMulti(client);
        ok = false;
    }
    if (fw.ShowWindowOnConnect != 0) {
        const bool openNow = fw.IsOpen();
        if (!openBefore && openNow) window.ShowForClient();
        if (openBefore && !openNow) window.HideForClient();
    }
    return ok;
}

bool ConnectionState(OrnFilterWheel& fw, ClientId client, const char* className, const char* member) {
    const bool holds = fw.IsClient(client);
    fw.Log("%s::%s(%i)\n", className, member, holds ? -1 : 0);
    return holds;
}

} // namespace velq3
