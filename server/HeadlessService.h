// The device server without a window: the device service with its headless poll, the network
// faces and the automation face on one PollMainLoop, until SIGTERM or SIGINT. The idle rule of
// processes started for a client does not end it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "server/CMyApp.h"
#include "service/DeviceService.h"
#include "service/Faces.h"

namespace velq3 {

struct HeadlessSettings {
    ServerSettings server;           // the automation face (arguments, classes root, socket...)
    ServiceOptions service;          // the device service's deadlines and poll period
    // Hold the link from start to end as the service's own client (the faces otherwise open it
    // with their first client and close it with their last).
    bool connect = false;
    // `ComPort` for this run only; the stored value is put back before the settings are saved.
    std::optional<int> portForRun;
    // Called once everything serves (for a ready line or a test).
    std::function<void()> onReady;
    // Receives one line per problem; default: standard error with the program's name.
    std::function<void(std::string_view)> diagnostics;
};

class HeadlessService {
public:
    // `device` and `loop` outlive this object; `loop` runs on the calling thread.
    HeadlessService(OrnFilterWheel& device, PollMainLoop& loop, HeadlessSettings settings, FaceRegistry& faces);
    HeadlessService(const HeadlessService&) = delete;
    HeadlessService& operator=(const HeadlessService&) = delete;

    // Serves until SIGTERM, SIGINT or Quit(); returns the exit code. The caller then destroys
    // the device object, which saves the settings.
    int Run();
    // Ends Run() from any thread.
    void Quit() { m_Loop.Quit(); }

private:
    void Report(const std::string& line) const;

    OrnFilterWheel& m_Device;
    PollMainLoop& m_Loop;
    HeadlessSettings m_Settings;
    FaceRegistry& m_Faces;
};

// "COMn" (any case, n = 1..16) → n; anything else none.
std::optional<int> ParsePortName(std::string_view text);

} // namespace velq3
