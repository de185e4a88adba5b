// The headless server's run.
#include "server/HeadlessService.h"

#include <cctype>
#include <cstdio>

#include "platform/PortMap.h"
#include "server/CommandLine.h"
#include "server/TerminationSignals.h"

namespace velq3 {

std::optional<int> ParsePortName(std::string_view text) {
    if (text.size() < 4 || text.size() > 5) return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(text[static_cast<std::size_t>(i)])) != "COM"[i]) return std::nullopt;
    int n = 0;
    for (char c : text.substr(3)) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < kFirstPortNumber || n > kLastPortNumber || text[3] == '0') return std::nullopt;
    return n;
}

HeadlessService::HeadlessService(OrnFilterWheel& device, PollMainLoop& loop, HeadlessSettings settings,
                                 FaceRegistry& faces)
    : m_Device(device), m_Loop(loop), m_Settings(std::move(settings)), m_Faces(faces) {}

void HeadlessService::Report(const std::string& line) const {
    if (m_Settings.diagnostics) m_Settings.diagnostics(line);
    else std::fprintf(stderr, "velq3: %s\n", line.c_str());
}

int HeadlessService::Run() {
    const std::int32_t storedPort = m_Device.ComPort;
    if (m_Settings.portForRun) m_Device.ComPort = *m_Settings.portForRun;

    int code = 0;
    {
        DeviceService service(m_Device, m_Loop, m_Settings.service);
        service.StartPoll();
        const ClientId own = DeviceService::NewClient();
        if (m_Settings.connect) {
            const CommandResult r = service.Connect(own, DeviceKind::Focuser);
            if (!r.Ok()) Report("the controller is not connected: " + r.message);
        }
        // A registration run ends as soon as it has written the registration: it serves nothing.
        if (!ParseCommandLine(m_Settings.server.arguments).RegistrationRun()) m_Faces.StartAll(service);

        ServerHooks hooks;
        hooks.runMessageLoop = [this] {
            if (m_Settings.onReady) m_Settings.onReady();
            m_Loop.Run();
        };
        // The idle rule of client-started processes does not end the service.
        hooks.postQuit = [] {};
        {
            TerminationSignals signals([this](int) { m_Loop.Quit(); });
            if (!signals.Installed()) Report("SIGTERM and SIGINT cannot be caught; the service ends only when killed");
            CMyApp app(m_Device, m_Loop, m_Settings.server, std::move(hooks));
            code = app.Run();
        }
        m_Faces.StopAll();
        if (m_Settings.connect) service.Disconnect(own);
        service.StopPoll();
    }

    // A port chosen for this run is not stored, unless something else changed it meanwhile.
    if (m_Settings.portForRun && m_Device.ComPort == *m_Settings.portForRun) m_Device.ComPort = storedPort;
    return code;
}

} // namespace velq3
