// velq3 without the window toolkit: the device object and the automation server on a poll()
// main loop. Started by the operator it runs until SIGINT or SIGTERM (or until the shutdown
// rule ends it after its last client); started for a client ("-Embedding") it serves that client.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/TransportPaths.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "server/CMyApp.h"
#include "server/TerminationSignals.h"

#ifndef VELQ3_VERSION
#define VELQ3_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    using namespace velq3;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    for (const std::string& a : arguments) {
        if (a == "--help" || a == "-h") {
            std::puts("usage: velq3 [/regserver | /unregserver | -Embedding] [--help] [--version]\n"
                      "  The automation server of the filter wheel and focuser controller, without a window.\n"
                      "  /regserver    register the automation classes for this user and end\n"
                      "  /unregserver  remove the registration and end\n"
                      "  -Embedding    started by an automation client\n"
                      "  Otherwise it serves clients until SIGINT or SIGTERM, or until 5 s after its last client.\n"
                      "Per-user settings live under $VELQ3_HOME when it is set.");
            return 0;
        }
        if (a == "--version") {
            std::puts("velq3 " VELQ3_VERSION);
            return 0;
        }
    }
    try {
        PollMainLoop loop;
        RegistryHive user = OpenCurrentUserHive();
        DeviceEnvironment env;
        env.userHive = &user;
        env.loop = &loop;
        OrnFilterWheel device(env);

        RegistryHive classes = OpenClassesRootHive();
        ServerSettings settings;
        settings.arguments = arguments;
        settings.executable = std::filesystem::read_symlink("/proc/self/exe");
        settings.classesRoot = &classes;
        try {
            settings.socketPath = DefaultSocketPath();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velq3: automation clients cannot be served: %s; set VELQ3_HOME or "
                                 "XDG_RUNTIME_DIR to a folder of your own\n", e.what());
            return 1;
        }
        ServerHooks hooks;
        hooks.runMessageLoop = [&loop] { loop.Run(); };
        hooks.postQuit = [&loop] { loop.Quit(); };
        CMyApp server(device, loop, std::move(settings), std::move(hooks));
        TerminationSignals signals([&loop](int) { loop.Quit(); });
        return server.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: %s\n", e.what());
        return 1;
    }
}
