// The "Temperature Graph" window in Win32: the four sensors' history drawn with GDI from the
// shared layout (ui/TermGraphLayout), on a black background, repainted every five seconds; its
// context menu's "Show Readings" adds each sensor's newest reading to the legend.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "device/TermLog.h"
#include "platform/Clock.h"
#include "ui/win32/Win32Dialog.h"

namespace velq3 {
class OrnFilterWheel;
}

namespace velq3::ui {

// Draws the graph of `history` into `dc` over a client area of `width` x `height` with the
// font selected in `dc`; the legend holds the names and, with `showReadings`, the newest
// readings. Every colour goes through `colour` (the night palette's red at night).
void PaintTermGraphGdi(HDC dc, int width, int height, const TermHistoryQueue& history,
                       const std::array<std::string, 4>& names, const TermTimeQueue& times,
                       const CalendarClock& clock, bool showReadings = false,
                       const std::function<COLORREF(COLORREF)>& colour = nullptr);

class CWin32TermGraph : public Win32RulesDialog {
public:
    explicit CWin32TermGraph(OrnFilterWheel& fw);

    // What the button does: hide when visible, otherwise show (created at the first show,
    // owned by `owner`) and repaint at once.
    void ToggleVisible(HWND owner);
    bool Visible() const { return Window() && ::IsWindowVisible(Window()); }

    // The context menu's "Show Readings" (no control uses this id).
    static constexpr UINT kShowReadingsCommand = 0x7E40;
    // The legend's readings: off unless the user's settings say otherwise; the operator's
    // change is stored there and repaints the graph.
    bool ShowReadings() const { return m_ShowReadings; }
    void SetShowReadings(bool on);

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void AddMenuEntries(HMENU menu) const override;

private:
    void Paint(HDC dc);

    OrnFilterWheel& m_FW;
    bool m_ShowReadings = false;
};

}  // namespace velq3::ui
