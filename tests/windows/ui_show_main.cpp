// velq3-ui-show.exe WINDOW [--night] [--scale PERCENT]: opens one of the operator windows on a
// device object that is not connected, for pictures of the windows (scripts/windows-png.sh):
// main, wheel_settings, focuser_settings, heater, microsteps (with a sine table) or graph (with a
// made-up two-hour history), by day or in the night palette, at a scale. It runs until the
// window is closed.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "ui/win32/FilterWheelWindow.h"
#include "ui/win32/SettingsDialogs.h"
#include "ui/UiScaleSetting.h"
#include "ui/win32/TermGraphWindow.h"
#include "ui/win32/Win32Look.h"

using namespace velq3;

namespace {

void MadeUpHistory(OrnFilterWheel& fw) {
    const std::time_t end = std::time(nullptr);
    const int samples = 2 * 720;
    for (int i = 0; i < samples; ++i) {
        const double t = i / 720.0;
        TermSample s{};
        s.T[0] = static_cast<float>(8.0 - 3.0 * t + 0.4 * std::sin(i / 40.0));
        s.T[1] = static_cast<float>(6.5 - 2.5 * t + 0.2 * std::cos(i / 55.0));
        s.T[2] = static_cast<float>(12.0 - 1.0 * t);
        s.T[3] = static_cast<float>(3.0 + 0.8 * std::sin(i / 90.0));
        s.Focus = 1000 + i;
        AppendTermSample(fw.TermHistory, fw.TermHistoryTimes, s, end - (samples - i) * 5);
    }
    fw.TermometerName = {"Tube", "Ambient", "Mirror", "Dew"};
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "";
    // The look the picture shows, not the user's stored one.
    ui::Win32Look look;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::optional<int> scale;
        if (arg == "--night") {
            look.SetNight(true);
        } else if (arg == "--scale" && i + 1 < argc && (scale = ui::ParseUiScale(argv[i + 1]))) {
            look.SetScale(*scale);
            ++i;
        } else {
            std::fprintf(stderr, "velq3-ui-show: unknown option %s (--night, --scale %s)\n", arg.c_str(),
                         ui::UiScaleStepsText().c_str());
            return 2;
        }
    }
    PollMainLoop loop;
    RegistryHive user = OpenCurrentUserHive();
    DeviceEnvironment env;
    env.userHive = &user;
    env.loop = &loop;
    OrnFilterWheel fw(env);
    if (which == "main") {
        ui::CWin32FilterWheelDlg window(fw, loop);
        window.SetLook(&look);
        window.RunModal(nullptr);
    } else if (which == "wheel_settings") {
        ui::CWin32FilterWheelSettingsDlg dialog(fw);
        dialog.SetLook(&look);
        dialog.RunModal(nullptr);
    } else if (which == "focuser_settings") {
        ui::CWin32FocuserSettingsDlg dialog(fw);
        dialog.SetLook(&look);
        dialog.RunModal(nullptr);
    } else if (which == "heater") {
        ui::CWin32HeaterControlDlg dialog(fw);
        dialog.SetLook(&look);
        dialog.RunModal(nullptr);
    } else if (which == "microsteps") {
        // With a sine table generated, so that the picture below the table shows a curve.
        fw.m_MicrostepTableLen = 64;
        ui::CWin32MicrostepsDlg dialog(fw);
        dialog.SetLook(&look);
        if (!dialog.Create(nullptr)) return 1;
        dialog.GenerateSin();
        ::ShowWindow(dialog.Window(), SW_SHOW);
        ::InvalidateRect(dialog.Window(), nullptr, TRUE);
        MSG msg;
        while (::IsWindowVisible(dialog.Window()) && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (::IsDialogMessageW(dialog.Window(), &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    } else if (which == "graph") {
        MadeUpHistory(fw);
        ui::CWin32TermGraph graph(fw);
        graph.SetLook(&look);
        graph.ToggleVisible(nullptr);
        MSG msg;
        while (graph.Visible() && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    } else {
        std::fprintf(stderr, "usage: velq3-ui-show.exe main|wheel_settings|focuser_settings|heater|microsteps|graph [--night] [--scale PERCENT]\n");
        return 2;
    }
    return 0;
}
