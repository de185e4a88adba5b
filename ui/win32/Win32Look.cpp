// The night palette and the scale of the Win32 windows.
#include "ui/win32/Win32Look.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/Registry.h"
#include "ui/NightColours.h"
#include "ui/UiScaleSetting.h"

namespace velq3::ui {
namespace {

// The look whose Ctrl+N the thread's message hook examines (a message hook has no context of its
// own; there is one look per program).
Win32Look* g_KeyLook = nullptr;

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && g_KeyLook && g_KeyLook->PreTranslateKey(*reinterpret_cast<const MSG*>(lParam))) return 1;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

constexpr UINT_PTR kGroupBoxSubclass = 0x7E6B;
constexpr COLORREF kNightFrame = RGB(80, 0, 0);
constexpr COLORREF kNightDisabledText = RGB(90, 0, 0);

// A group box at night: its frame in a dark red, its caption in the night text colour on black.
// (The common controls' group box takes the control colour message's brush, but draws the
// caption in the system's text colour: black on black.)
void PaintNightGroupBox(HWND box, HDC dc) {
    RECT r{};
    ::GetClientRect(box, &r);
    HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    wchar_t text[256] = {};
    ::GetWindowTextW(box, text, 256);
    HPEN pen = ::CreatePen(PS_SOLID, 1, kNightFrame);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::Rectangle(dc, r.left, r.top + tm.tmHeight / 2, r.right, r.bottom);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(pen);
    if (text[0]) {
        RECT caption{r.left + tm.tmAveCharWidth, r.top, r.right - tm.tmAveCharWidth, r.top + tm.tmHeight};
        ::DrawTextW(dc, text, -1, &caption, DT_SINGLELINE | DT_CALCRECT);
        caption.left -= 2;
        caption.right = std::min(caption.right + 2, r.right - tm.tmAveCharWidth);
        ::FillRect(dc, &caption, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::IsWindowEnabled(box) ? RGB(kNightTextRed, 0, 0) : kNightDisabledText);
        caption.left += 2;
        ::DrawTextW(dc, text, -1, &caption, DT_SINGLELINE | DT_NOCLIP);
    }
    ::SelectObject(dc, oldFont);
}

// WM_PAINT and WM_PRINTCLIENT of a control the look draws at night with `Paint`; true when
// `msg` was one of them (the control then answers 0).
template <void (*Paint)(HWND, HDC)>
bool PaintedAtNight(HWND control, UINT msg, WPARAM wParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(control, &ps);
        Paint(control, dc);
        ::EndPaint(control, &ps);
        return true;
    }
    if (msg != WM_PRINTCLIENT) return false;
    Paint(control, reinterpret_cast<HDC>(wParam));
    return true;
}

// Puts the night drawing of a control on (a subclass) or takes it off.
void SetNightSubclass(HWND control, SUBCLASSPROC proc, UINT_PTR id, bool night) {
    if (night) ::SetWindowSubclass(control, proc, id, 0);
    else ::RemoveWindowSubclass(control, proc, id);
}

LRESULT CALLBACK NightGroupBoxProc(HWND box, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (PaintedAtNight<&PaintNightGroupBox>(box, msg, wParam)) return 0;
    switch (msg) {
    case WM_SETTEXT:
    case WM_ENABLE: {
        // The control draws itself at once on these: drawn again over its own drawing.
        const LRESULT result = ::DefSubclassProc(box, msg, wParam, lParam);
        RECT r{};
        ::GetWindowRect(box, &r);
        HWND parent = ::GetParent(box);
        ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
        ::RedrawWindow(parent, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, &NightGroupBoxProc, id);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(box, msg, wParam, lParam);
}

constexpr UINT_PTR kCheckBoxSubclass = 0x7E6C;
constexpr COLORREF kNightBoxFrame = RGB(150, 0, 0);
constexpr COLORREF kNightPressed = RGB(60, 0, 0);
constexpr COLORREF kNightIndeterminate = RGB(100, 0, 0);
constexpr COLORREF kNightFocus = RGB(120, 0, 0);

// A check box at night: its square framed in red with a red check (or, in the third state, a
// dark red fill), its text in the night text colour, all on black; the text framed while the
// box has the focus. The square stands right of the text for a box with its text on the left.
void PaintNightCheckBox(HWND box, HDC dc) {
    RECT r{};
    ::GetClientRect(box, &r);
    ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    const LONG_PTR style = ::GetWindowLongPtrW(box, GWL_STYLE);
    const bool enabled = ::IsWindowEnabled(box) != FALSE;
    const LRESULT state = ::SendMessageW(box, BM_GETSTATE, 0, 0);
    const bool textLeft = (style & BS_LEFTTEXT) != 0;
    const int side = std::max<int>(7, std::min<int>(r.bottom - r.top, tm.tmHeight));
    const int gap = std::max<int>(2, tm.tmAveCharWidth / 2);
    RECT square{textLeft ? r.right - side : r.left, r.top + (r.bottom - r.top - side) / 2, 0, 0};
    square.right = square.left + side;
    square.bottom = square.top + side;

    if (state & BST_PUSHED) {
        HBRUSH pressed = ::CreateSolidBrush(kNightPressed);
        ::FillRect(dc, &square, pressed);
        ::DeleteObject(pressed);
    }
    HBRUSH frame = ::CreateSolidBrush(enabled ? kNightBoxFrame : kNightFrame);
    ::FrameRect(dc, &square, frame);
    ::DeleteObject(frame);
    const COLORREF mark = enabled ? RGB(kNightTextRed, 0, 0) : kNightDisabledText;
    const LRESULT check = state & (BST_CHECKED | BST_INDETERMINATE);
    if (check == BST_CHECKED) {
        // A tick from the left middle down to the bottom third and up to the top right.
        const int inset = std::max(2, side / 5);
        const POINT tick[] = {{square.left + inset, square.top + side / 2},
                              {square.left + side * 2 / 5, square.bottom - inset - 1},
                              {square.right - inset - 1, square.top + inset}};
        HPEN pen = ::CreatePen(PS_SOLID, std::max(1, side / 6), mark);
        HGDIOBJ oldPen = ::SelectObject(dc, pen);
        ::Polyline(dc, tick, 3);
        ::SelectObject(dc, oldPen);
        ::DeleteObject(pen);
    } else if (check == BST_INDETERMINATE) {
        RECT inner{square.left + 3, square.top + 3, square.right - 3, square.bottom - 3};
        HBRUSH fill = ::CreateSolidBrush(kNightIndeterminate);
        ::FillRect(dc, &inner, fill);
        ::DeleteObject(fill);
    }

    wchar_t text[256] = {};
    ::GetWindowTextW(box, text, 256);
    if (text[0]) {
        RECT area = textLeft ? RECT{r.left, r.top, square.left - gap, r.bottom}
                             : RECT{square.right + gap, r.top, r.right, r.bottom};
        const bool lines = (style & BS_MULTILINE) != 0;
        const UINT align = ((style & BS_CENTER) == BS_RIGHT) ? DT_RIGHT : DT_LEFT;
        const UINT format = align | (lines ? DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER);
        RECT measured = area;
        ::DrawTextW(dc, text, -1, &measured, format | DT_CALCRECT);
        const LONG width = measured.right - measured.left, height = measured.bottom - measured.top;
        RECT placed = area;
        if (align == DT_RIGHT) placed.left = placed.right - width;
        else placed.right = std::min(placed.right, placed.left + width);
        placed.top = area.top + std::max<LONG>(0, (area.bottom - area.top - height) / 2);
        placed.bottom = std::min(area.bottom, placed.top + height);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, mark);
        ::DrawTextW(dc, text, -1, &placed, (format & ~static_cast<UINT>(DT_VCENTER)) | DT_NOCLIP);
        if (::GetFocus() == box) {
            RECT focus{placed.left - 1, placed.top, placed.right + 1, placed.bottom};
            HBRUSH brush = ::CreateSolidBrush(kNightFocus);
            ::FrameRect(dc, &focus, brush);
            ::DeleteObject(brush);
        }
    }
    ::SelectObject(dc, oldFont);
}

LRESULT CALLBACK NightCheckBoxProc(HWND box, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (PaintedAtNight<&PaintNightCheckBox>(box, msg, wParam)) return 0;
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;  // the painting fills everything
    case BM_SETCHECK:
    case BM_SETSTATE:
    case BM_CLICK:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_CAPTURECHANGED:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_UPDATEUISTATE: {
        // The control may draw itself at once on these: drawn again over its own drawing.
        const LRESULT result = ::DefSubclassProc(box, msg, wParam, lParam);
        if (::IsWindowVisible(box)) {
            HDC dc = ::GetDC(box);
            PaintNightCheckBox(box, dc);
            ::ReleaseDC(box, dc);
        }
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, &NightCheckBoxProc, id);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(box, msg, wParam, lParam);
}

COLORREF ToColorRef(Rgb c) { return RGB(c.r, c.g, c.b); }
Rgb ToRgb(COLORREF c) { return {GetRValue(c), GetGValue(c), GetBValue(c)}; }

}  // namespace

Win32Look::Win32Look(RegistryHive* hive) : m_Hive(hive) {
    if (hive) {
        m_Night = LoadNightMode(*hive);
        m_Scale = LoadUiScale(*hive);
    }
    m_Background = ::CreateSolidBrush(RGB(0, 0, 0));
    if (!g_KeyLook) {
        g_KeyLook = this;
        m_KeyHook = ::SetWindowsHookExW(WH_MSGFILTER, &KeyHook, nullptr, ::GetCurrentThreadId());
    }
}

Win32Look::~Win32Look() {
    if (m_KeyHook) ::UnhookWindowsHookEx(m_KeyHook);
    if (g_KeyLook == this) g_KeyLook = nullptr;
    ::DeleteObject(m_Background);
}

void Win32Look::SetNight(bool on) {
    if (on == m_Night) return;
    m_Night = on;
    for (HWND w : m_Windows) Apply(w);
}

void Win32Look::ToggleNight() {
    SetNight(!m_Night);
    if (m_Hive) SaveNightMode(*m_Hive, m_Night);
}

void Win32Look::SetScale(int percent) {
    if (IsUiScaleStep(percent)) m_Scale = percent;
}

void Win32Look::ChooseScale(int percent) {
    if (!IsUiScaleStep(percent)) return;
    m_Scale = percent;
    if (m_Hive) SaveUiScale(*m_Hive, percent);
}

std::optional<int> Win32Look::ScaleOfCommand(UINT command) const {
    if (command == kLargerCommand) return NextUiScale(m_Scale, +1);
    if (command == kSmallerCommand) return NextUiScale(m_Scale, -1);
    if (command >= kScaleCommandBase && command < kScaleCommandBase + kUiScaleSteps.size())
        return kUiScaleSteps[command - kScaleCommandBase];
    return std::nullopt;
}

COLORREF Win32Look::Colour(COLORREF day) const { return m_Night ? ToColorRef(NightRgb(ToRgb(day))) : day; }
COLORREF Win32Look::AreaColour(COLORREF day) const { return m_Night ? ToColorRef(NightDimRgb(ToRgb(day))) : day; }
COLORREF Win32Look::TextColour() const { return m_Night ? RGB(kNightTextRed, 0, 0) : ::GetSysColor(COLOR_WINDOWTEXT); }
COLORREF Win32Look::BackgroundColour() const { return m_Night ? RGB(0, 0, 0) : ::GetSysColor(COLOR_WINDOW); }

HBRUSH Win32Look::ControlColours(HDC dc) const {
    if (!m_Night) return nullptr;
    ::SetTextColor(dc, TextColour());
    ::SetBkColor(dc, RGB(0, 0, 0));
    return m_Background;
}

void Win32Look::Attach(HWND window) {
    if (std::find(m_Windows.begin(), m_Windows.end(), window) == m_Windows.end()) m_Windows.push_back(window);
    // A window built by day needs nothing; at night its lists take the night colours.
    if (m_Night) Apply(window);
}

void Win32Look::Detach(HWND window) {
    m_Windows.erase(std::remove(m_Windows.begin(), m_Windows.end(), window), m_Windows.end());
    std::erase_if(m_DayLists, [window](const auto& entry) { return entry.second.window == window; });
    std::erase_if(m_NightButtons, [window](const auto& entry) { return entry.second.first == window; });
}

void Win32Look::Apply(HWND window) {
    m_Applying = window;
    ::EnumChildWindows(window, &ApplyToChild, reinterpret_cast<LPARAM>(this));
    m_Applying = nullptr;
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

BOOL CALLBACK Win32Look::ApplyToChild(HWND child, LPARAM lParam) {
    wchar_t cls[32] = {};
    ::GetClassNameW(child, cls, 32);
    auto& look = *reinterpret_cast<Win32Look*>(lParam);
    if (::lstrcmpiW(cls, WC_LISTVIEWW) == 0) look.ApplyToList(look.m_Applying, child);
    if (::lstrcmpiW(cls, L"Button") == 0) look.ApplyToButton(look.m_Applying, child);
    return TRUE;
}

void Win32Look::ApplyToList(HWND window, HWND list) {
    if (m_Night) {
        // The list's own colours are kept for the day: the system's defaults differ between
        // versions of the common controls.
        m_DayLists.try_emplace(list, ListColours{window, ListView_GetBkColor(list), ListView_GetTextBkColor(list),
                                                 ListView_GetTextColor(list)});
        ListView_SetBkColor(list, RGB(0, 0, 0));
        ListView_SetTextBkColor(list, RGB(0, 0, 0));
        ListView_SetTextColor(list, TextColour());
        return;
    }
    const auto day = m_DayLists.find(list);
    if (day == m_DayLists.end()) return;
    ListView_SetBkColor(list, day->second.back);
    ListView_SetTextBkColor(list, day->second.textBack);
    ListView_SetTextColor(list, day->second.text);
    m_DayLists.erase(day);
}

void Win32Look::ApplyToButton(HWND window, HWND button) {
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE);
    const LONG_PTR type = style & BS_TYPEMASK;
    if (type == BS_GROUPBOX) {
        SetNightSubclass(button, &NightGroupBoxProc, kGroupBoxSubclass, m_Night);
        return;  // Apply redraws the window with its children
    }
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE) {
        // The control colour messages colour the text only; the square stays the system's.
        SetNightSubclass(button, &NightCheckBoxProc, kCheckBoxSubclass, m_Night);
        return;
    }
    if (m_Night) {
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON) return;
        m_NightButtons[button] = {window, type};
        ::SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    } else {
        const auto night = m_NightButtons.find(button);
        if (night == m_NightButtons.end()) return;
        ::SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | night->second.second);
        m_NightButtons.erase(night);
    }
    ::InvalidateRect(button, nullptr, TRUE);
}

bool Win32Look::DrawButton(const DRAWITEMSTRUCT& item) const {
    if (item.CtlType != ODT_BUTTON || !m_NightButtons.contains(item.hwndItem)) return false;
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    HBRUSH fill = ::CreateSolidBrush(RGB(pressed ? 70 : 40, 0, 0));
    ::FillRect(dc, &r, fill);
    ::DeleteObject(fill);
    // The frame: brighter, and twice as thick, on the button that has the focus.
    HBRUSH frame = ::CreateSolidBrush(RGB((item.itemState & ODS_FOCUS) ? 150 : 80, 0, 0));
    ::FrameRect(dc, &r, frame);
    if (item.itemState & ODS_FOCUS) {
        RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
        ::FrameRect(dc, &inner, frame);
    }
    ::DeleteObject(frame);
    wchar_t text[256] = {};
    ::GetWindowTextW(item.hwndItem, text, 256);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(disabled ? 90 : kNightTextRed, 0, 0));
    const bool lines = (::GetWindowLongPtrW(item.hwndItem, GWL_STYLE) & BS_MULTILINE) != 0;
    if (pressed) ::OffsetRect(&r, 1, 1);
    if (lines) {
        // Centred as a block: measured first, then placed in the middle.
        RECT box = r;
        ::DrawTextW(dc, text, -1, &box, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
        const int height = box.bottom - box.top;
        r.top += (r.bottom - r.top - height) / 2;
        ::DrawTextW(dc, text, -1, &r, DT_CENTER | DT_WORDBREAK);
    } else {
        ::DrawTextW(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    return true;
}

HMENU Win32Look::BuildMenu(bool withScale) const {
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return nullptr;
    ::AppendMenuW(menu, MF_STRING | (m_Night ? MF_CHECKED : MF_UNCHECKED), kNightModeCommand, L"Night Mode\tCtrl+N");
    if (!withScale) return menu;
    HMENU steps = ::CreatePopupMenu();
    for (std::size_t i = 0; i < kUiScaleSteps.size(); ++i) {
        const std::wstring label = std::to_wstring(kUiScaleSteps[i]) + L" %";
        ::AppendMenuW(steps, MF_STRING | (kUiScaleSteps[i] == m_Scale ? MF_CHECKED : MF_UNCHECKED),
                      kScaleCommandBase + i, label.c_str());
    }
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, kLargerCommand, L"Larger\tCtrl++");
    ::AppendMenuW(menu, MF_STRING, kSmallerCommand, L"Smaller\tCtrl+-");
    ::AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(steps), L"Scale");
    return menu;
}

bool Win32Look::OnCommand(UINT command) {
    if (command != kNightModeCommand) return false;
    ToggleNight();
    return true;
}

bool Win32Look::PreTranslateKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || msg.wParam != 'N') return false;
    if ((::GetKeyState(VK_CONTROL) & 0x8000) == 0 || (::GetKeyState(VK_MENU) & 0x8000) != 0) return false;
    const bool ours = std::any_of(m_Windows.begin(), m_Windows.end(),
                                  [&](HWND w) { return msg.hwnd == w || ::IsChild(w, msg.hwnd); });
    if (!ours) return false;
    ToggleNight();
    return true;
}

}  // namespace velq3::ui
