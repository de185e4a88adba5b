// GDI painting and the window of the temperature graph.
#include "ui/win32/TermGraphWindow.h"

#include <algorithm>
#include <vector>

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"
#include "ui/GraphReadingsSetting.h"
#include "ui/TermGraphLayout.h"
#include "ui/TermGraphTemplate.h"
#include "ui/win32/DialogTemplateEx.h"
#include "ui/win32/Win32Look.h"

namespace velq3::ui {
namespace {

constexpr int kShortTick = 10;       // pixels: height of the five-minute ticks
constexpr int kTimeLabelOffset = 2;  // pixels from a time line to its label
constexpr int kLegendGap = 6;        // pixels between a legend name and its reading
constexpr UINT_PTR kRedrawTimer = 1;

const COLORREF kSeries[4] = {RGB(255, 0, 0), RGB(255, 255, 0), RGB(0, 255, 0), RGB(0, 255, 255)};

int TextWidth(HDC dc, const std::wstring& s) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return size.cx;
}

void Text(HDC dc, int x, int y, const std::wstring& s, COLORREF colour) {
    ::SetTextColor(dc, colour);
    ::TextOutW(dc, x, y, s.c_str(), static_cast<int>(s.size()));
}

bool Intersects(const RECT& a, const RECT& b) {
    RECT out;
    return ::IntersectRect(&out, &a, &b) != FALSE;
}

}  // namespace

void PaintTermGraphGdi(HDC dc, int width, int height, const TermHistoryQueue& history,
                       const std::array<std::string, 4>& names, const TermTimeQueue& times,
                       const CalendarClock& clock, bool showReadings,
                       const std::function<COLORREF(COLORREF)>& colour) {
    const auto c = [&colour](COLORREF day) { return colour ? colour(day) : day; };
    const RECT all{0, 0, width, height};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    const GraphBox p = PlotBox(width, height);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    const int lineHeight = tm.tmHeight;
    // Texts are placed by their top left corner.
    ::SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    ::SetBkMode(dc, TRANSPARENT);
    const TermTimeAxis axis{&times, &clock, kTimeLabelOffset + TextWidth(dc, L"00:00")};
    const TermGraphLayout g = ComputeTermGraphLayout(history, p, axis);

    // Legend rows in the top right corner; with the readings, a column of them at the right edge.
    int valueWidth = 0;
    if (showReadings)
        for (const auto& value : g.latest)
            if (value) valueWidth = std::max(valueWidth, TextWidth(dc, Wide(*value)));
    const int nameRight = p.right - (valueWidth > 0 ? valueWidth + kLegendGap : 0);
    std::array<int, 4> rowTop{};
    std::vector<RECT> taken;  // text already placed: the time labels keep clear of it
    int legendY = p.top;
    for (size_t j = 0; j < 4; ++j) {
        rowTop[j] = legendY;
        const std::wstring name = Wide(names[j]);
        const bool reading = showReadings && g.latest[j];
        if (name.empty() && !reading) continue;
        const int left = name.empty() ? nameRight : nameRight - TextWidth(dc, name);
        taken.push_back({left, legendY, reading ? p.right : nameRight, legendY + lineHeight});
        legendY += lineHeight;
    }

    HPEN grid = ::CreatePen(PS_DOT, 1, c(RGB(128, 128, 128)));
    HGDIOBJ oldPen = ::SelectObject(dc, grid);
    for (const GraphGridLine& line : g.grid) {
        if (line.label) {
            // On its line, or just below it where the text would rise above the box.
            const int top = std::max(line.y - static_cast<int>(tm.tmAscent), p.top);
            const std::wstring label = Wide(*line.label);
            Text(dc, p.left, top, label, c(RGB(255, 255, 255)));
            taken.push_back({p.left, top, p.left + TextWidth(dc, label), top + lineHeight});
            ::MoveToEx(dc, p.left, line.y, nullptr);
            ::LineTo(dc, p.right, line.y);
        } else {
            ::MoveToEx(dc, p.left, line.y, nullptr);
            ::LineTo(dc, std::min(p.left + 5, p.right), line.y);
        }
    }
    for (const GraphTimeTick& tick : g.timeTicks) {
        ::MoveToEx(dc, tick.x, p.bottom, nullptr);
        ::LineTo(dc, tick.x, tick.fullHeight ? p.top : p.bottom - kShortTick);
        if (!tick.label) continue;
        // Right of its line, just above the short ticks, unless it would cover other text.
        const std::wstring label = Wide(*tick.label);
        const RECT box{tick.x + kTimeLabelOffset, p.bottom - kShortTick - 1 - lineHeight,
                       tick.x + kTimeLabelOffset + TextWidth(dc, label), p.bottom - kShortTick - 1};
        if (box.top < p.top || std::any_of(taken.begin(), taken.end(), [&](const RECT& r) { return Intersects(r, box); }))
            continue;
        Text(dc, box.left, box.top, label, c(RGB(255, 255, 255)));
    }
    ::SelectObject(dc, oldPen);
    ::DeleteObject(grid);

    for (size_t j = 0; j < 4; ++j) {
        const std::wstring name = Wide(names[j]);
        Text(dc, nameRight - TextWidth(dc, name), rowTop[j], name, c(kSeries[j]));
        if (showReadings && g.latest[j]) {
            const std::wstring value = Wide(*g.latest[j]);
            Text(dc, p.right - TextWidth(dc, value), rowTop[j], value, c(kSeries[j]));
        }
        // The series as one path of joined runs.
        HPEN pen = ::CreatePen(PS_SOLID, 1, c(kSeries[j]));
        HGDIOBJ old = ::SelectObject(dc, pen);
        ::BeginPath(dc);
        for (const GraphPoint& pt : g.series[j]) {
            if (pt.joined) ::LineTo(dc, pt.x, pt.y);
            else ::MoveToEx(dc, pt.x, pt.y, nullptr);
        }
        ::EndPath(dc);
        ::StrokePath(dc);
        ::SelectObject(dc, old);
        ::DeleteObject(pen);
    }
}

CWin32TermGraph::CWin32TermGraph(OrnFilterWheel& fw)
    : Win32RulesDialog(kTermGraphTemplate, WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), m_FW(fw) {
    if (const RegistryHive* hive = m_FW.UserHive()) m_ShowReadings = LoadGraphReadings(*hive);
}

void CWin32TermGraph::SetShowReadings(bool on) {
    m_ShowReadings = on;
    if (RegistryHive* hive = m_FW.UserHive()) SaveGraphReadings(*hive, on);
    if (Window()) ::InvalidateRect(Window(), nullptr, FALSE);
}

void CWin32TermGraph::AddMenuEntries(HMENU menu) const {
    if (::GetMenuItemCount(menu) > 0) ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING | (m_ShowReadings ? MF_CHECKED : MF_UNCHECKED), kShowReadingsCommand,
                  L"Show Readings");
}

void CWin32TermGraph::Paint(HDC dc) {
    RECT client{};
    ::GetClientRect(Window(), &client);
    // Drawn off screen first, so that the five-second repaint does not flicker.
    HDC memory = ::CreateCompatibleDC(dc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom));
    HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
    HGDIOBJ oldFont = ::SelectObject(memory, reinterpret_cast<HFONT>(::SendMessageW(Window(), WM_GETFONT, 0, 0)));
    PaintTermGraphGdi(memory, client.right, client.bottom, m_FW.TermHistory, m_FW.TermometerName,
                      m_FW.TermHistoryTimes, m_FW.CalendarTime(), m_ShowReadings,
                      [look = Look()](COLORREF day) { return look ? look->Colour(day) : day; });
    ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, oldFont);
    ::SelectObject(memory, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
}

void CWin32TermGraph::ToggleVisible(HWND owner) {
    if (Visible()) {
        ::ShowWindow(Window(), SW_HIDE);
        return;
    }
    if (!Window() && !Create(owner)) return;
    ::ShowWindow(Window(), SW_SHOW);
    ::InvalidateRect(Window(), nullptr, FALSE);
}

bool CWin32TermGraph::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
    case WM_INITDIALOG:
        ::SetTimer(Window(), kRedrawTimer, kTermGraphRedrawMs, nullptr);
        result = TRUE;
        return true;
    case WM_TIMER:
        if (wParam != kRedrawTimer) return false;
        ::InvalidateRect(Window(), nullptr, FALSE);
        result = TRUE;
        return true;
    case WM_SIZE:
        ::InvalidateRect(Window(), nullptr, FALSE);
        return false;
    case WM_ERASEBKGND:
        result = TRUE;  // the painting fills everything
        ::SetWindowLongPtrW(Window(), DWLP_MSGRESULT, 1);
        return true;
    case WM_CLOSE:
        ::ShowWindow(Window(), SW_HIDE);
        result = TRUE;
        return true;
    case WM_COMMAND:
        if (lParam != 0 || LOWORD(wParam) != kShowReadingsCommand) return false;
        SetShowReadings(!m_ShowReadings);
        result = TRUE;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(Window(), &ps);
        Paint(dc);
        ::EndPaint(Window(), &ps);
        result = TRUE;
        return true;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        result = TRUE;
        return true;
    default:
        return false;
    }
}

}  // namespace velq3::ui
