// The Win32 layer of the dialogs under Wine: every operator window's template built in memory
// and opened, its controls on screen where the template puts them at the dialog font, and the
// control operations and notifications over real Win32 controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/OrnFilterWheel.h"
#include "device/TermLog.h"
#include "platform/Registry.h"
#include "ui/DialogTemplates.h"
#include "ui/GraphReadingsSetting.h"
#include "ui/FilterWheelSettingsTemplate.h"
#include "ui/FocuserSettingsTemplate.h"
#include "ui/HeaterControlTemplate.h"
#include "ui/LookOptions.h"
#include "ui/MicrostepsTemplate.h"
#include "ui/NightColours.h"
#include "ui/TermGraphTemplate.h"
#include "ui/UiScaleSetting.h"
#include "ui/win32/DialogTemplateEx.h"
#include "ui/win32/TermGraphWindow.h"
#include "ui/win32/Win32Dialog.h"
#include "ui/win32/Win32Look.h"

namespace velq3::ui {
namespace {

// An off-screen picture of width x height pixels, compatible with the screen of `window`, for
// reading back what a control or a window draws; released at the end of its scope.
class Canvas {
public:
    Canvas(HWND window, int width, int height)
        : m_Window(window), m_Screen(::GetDC(window)), m_Dc(::CreateCompatibleDC(m_Screen)),
          m_Bitmap(::CreateCompatibleBitmap(m_Screen, width, height)), m_Old(::SelectObject(m_Dc, m_Bitmap)) {}
    ~Canvas() {
        ::SelectObject(m_Dc, m_Old);
        ::DeleteObject(m_Bitmap);
        ::DeleteDC(m_Dc);
        ::ReleaseDC(m_Window, m_Screen);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC Dc() const { return m_Dc; }

private:
    HWND m_Window;
    HDC m_Screen;
    HDC m_Dc;
    HBITMAP m_Bitmap;
    HGDIOBJ m_Old;
};

// A dialog rectangle in pixels of `dialog`'s font, sizes converted on their own as dialog
// creation converts them.
RECT Pixels(HWND dialog, int x, int y, int cx, int cy) {
    RECT pos{x, y, 0, 0}, size{cx, cy, 0, 0};
    ::MapDialogRect(dialog, &pos);
    ::MapDialogRect(dialog, &size);
    return {pos.left, pos.top, pos.left + size.left, pos.top + size.top};
}

RECT OnScreenInDialog(HWND dialog, HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Show(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
    return text;
}

struct Window {
    const char* name;
    const DialogTemplate* tmpl;
};

const Window kWindows[] = {
    {"main", &kFilterWheelDlgTemplate},
    {"wheel_settings", &kFilterWheelSettingsTemplate},
    {"focuser_settings", &kFocuserSettingsTemplate},
    {"heater", &kHeaterControlTemplate},
    {"microsteps", &kMicrostepsTemplate},
};

class TemplateOnScreen : public ::testing::TestWithParam<Window> {};

// Every control sits where its template puts it at the dialog font; the closed drop-down lists
// keep their template's width, and an up-down placed on its buddy takes the buddy's right end.
TEST_P(TemplateOnScreen, ControlsWhereTheTemplatePutsThem) {
    const DialogTemplate& t = *GetParam().tmpl;
    Win32RulesDialog dialog(t);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr) << "error " << ::GetLastError();

    // The client area and the font the template names.
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const RECT want = Pixels(hwnd, 0, 0, t.cx, t.cy);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
    LOGFONTW font{};
    ASSERT_TRUE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof(font), &font));
    EXPECT_EQ(Utf8(font.lfFaceName), t.fontFace);
    HDC dc = ::GetDC(hwnd);
    EXPECT_EQ(font.lfHeight, -::MulDiv(t.pointSize, ::GetDeviceCaps(dc, LOGPIXELSY), 72));
    ::ReleaseDC(hwnd, dc);
    EXPECT_EQ(dialog.Controls().Caption(), t.caption);

    // The children in creation order are the template's controls in its order.
    std::vector<HWND> children;
    for (HWND c = ::GetWindow(hwnd, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    ASSERT_EQ(children.size(), t.controls.size());

    for (size_t i = 0; i < t.controls.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        std::string where = "control " + std::to_string(i) + " id " + std::to_string(c.id);
        where += c.text ? c.text : "";
        SCOPED_TRACE(where);
        if (c.id != kNoId) {
            EXPECT_EQ(::GetDlgCtrlID(children[i]), c.id);
        }
        const RECT got = OnScreenInDialog(hwnd, children[i]);
        const RECT tmpl = Pixels(hwnd, c.x, c.y, c.cx, c.cy);
        if (c.kind == ControlKind::UpDown && (c.style & kAlignRightOfPrevious)) {
            ASSERT_GT(i, 0u);
            const ControlTemplate& b = t.controls[i - 1];
            const RECT buddyTmpl = Pixels(hwnd, b.x, b.y, b.cx, b.cy);
            const RECT buddy = OnScreenInDialog(hwnd, children[i - 1]);
            // At the buddy's right end, or inside its frame by the border the arrows overlap.
            EXPECT_LE(got.right, buddyTmpl.right) << Show(got) << " buddy " << Show(buddyTmpl);
            EXPECT_GE(got.right, buddyTmpl.right - 2) << Show(got) << " buddy " << Show(buddyTmpl);
            EXPECT_EQ(got.top, buddyTmpl.top) << Show(got);
            EXPECT_EQ(got.bottom, buddyTmpl.bottom) << Show(got);
            EXPECT_EQ(buddy.left, buddyTmpl.left);
            // The buddy gives up the room the arrows take (they may overlap its frame).
            EXPECT_LE(buddy.right, got.left + 2) << Show(buddy) << " arrows " << Show(got);
            EXPECT_GE(buddy.right, got.left - 2) << Show(buddy) << " arrows " << Show(got);
            continue;
        }
        // A buddy that an up-down is placed on is checked with the up-down.
        const bool buddyOfNext = i + 1 < t.controls.size() && t.controls[i + 1].kind == ControlKind::UpDown &&
                                 (t.controls[i + 1].style & kAlignRightOfPrevious);
        if (buddyOfNext) continue;
        EXPECT_EQ(got.left, tmpl.left) << Show(got) << " want " << Show(tmpl);
        EXPECT_EQ(got.top, tmpl.top) << Show(got) << " want " << Show(tmpl);
        if (c.kind == ControlKind::UpDown) {
            // Wine gives a free-standing up-down one pixel less than its template width.
            EXPECT_NEAR(got.right, tmpl.right, 1) << Show(got) << " want " << Show(tmpl);
        } else {
            EXPECT_EQ(got.right, tmpl.right) << Show(got) << " want " << Show(tmpl);
        }
        if (c.kind == ControlKind::ComboList) {
            // The template's height is the opened list's; the closed box is one line.
            EXPECT_LT(got.bottom, tmpl.bottom) << Show(got);
        } else {
            EXPECT_EQ(got.bottom, tmpl.bottom) << Show(got) << " want " << Show(tmpl);
        }
        if (c.id != kNoId) {
            const ClientBox box = dialog.Controls().ControlBox(c.id);
            EXPECT_EQ(box.left, got.left);
            EXPECT_EQ(box.bottom, got.bottom);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, TemplateOnScreen, ::testing::ValuesIn(kWindows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The control operations over one dialog holding every kind of control ----

constexpr int kEdit = 101, kSpin = 102, kList = 103, kBox = 104, kTri = 105, kRows = 106, kLabel = 107, kGo = 108,
              kQuit = 109;
constexpr ControlTemplate kAllKinds[] = {
    {kNoId, ControlKind::GroupBox, "Kinds", 2, 2, 196, 150},
    {kEdit, ControlKind::Edit, "", 10, 12, 50, 14},
    {kSpin, ControlKind::UpDown, "", 50, 12, 11, 14, kArrowKeys | kAlignRightOfPrevious},
    {kList, ControlKind::ComboList, "", 70, 12, 60, 60},
    {kBox, ControlKind::CheckBox, "Auto", 10, 32, 40, 10},
    {kTri, ControlKind::ThreeStateBox, "Tri", 60, 32, 40, 10},
    {kRows, ControlKind::ListView, "", 10, 48, 180, 60},
    {kLabel, ControlKind::Label, "Label", 10, 112, 60, 8, kCentred},
    {kGo, ControlKind::PushButton, "Go", 10, 124, 40, 14},
    {kQuit, ControlKind::PushButton, "Quit", 60, 124, 40, 14, kCancel},
    {kIdOk, ControlKind::PushButton, "OK", 110, 124, 40, 14, kDisabled},
};
constexpr DialogTemplate kAllKindsTemplate = {900, "All kinds", 8, "MS Sans Serif", 200, 156, kAllKinds};

// Notes every event the rules hear, as "id:what" (deltas as "id:delta:n").
class RecordingRules : public DialogRules {
public:
    void OnCommand(int id, Notify what) override {
        static const char* const names[] = {"clicked", "changed", "edited", "sel", "done"};
        events.push_back(std::to_string(id) + ":" + names[static_cast<int>(what)]);
    }
    void OnDeltaPos(int id, int delta) override { events.push_back(std::to_string(id) + ":delta:" + std::to_string(delta)); }
    void OnCancel() override { events.push_back("cancel"); }
    std::vector<std::string> Take() { return std::exchange(events, {}); }
    std::vector<std::string> events;
};

class AllKindsDialog : public Win32RulesDialog {
public:
    AllKindsDialog() : Win32RulesDialog(kAllKindsTemplate) {}
    RecordingRules rules;

protected:
    void Initialize() override { AttachRules(rules); }
};

class ControlOperations : public ::testing::Test {
protected:
    void SetUp() override {
        hwnd = dialog.Create(nullptr);
        // Hidden: showing a window costs Wine seconds (it waits for X to map it).
        ASSERT_NE(hwnd, nullptr);
        dialog.Controls().SetMessageHook([this](HWND, const std::wstring& title, const std::wstring& text, UINT icon) {
            boxes.push_back(Utf8(text) + "|" + Utf8(title) + "|" + std::to_string(icon));
        });
        ctl.Focus(kGo);
        dialog.rules.Take();
    }
    // Lets posted messages (the close box's cancel command) arrive.
    void Pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageW(hwnd, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
    }
    HWND Item(int id) { return ::GetDlgItem(hwnd, id); }
    // A click as the operator's mouse makes it.
    void Click(HWND w, int x, int y) {
        ::SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        ::SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }

    AllKindsDialog dialog;
    HWND hwnd = nullptr;
    Win32DialogControls& ctl = dialog.Controls();
    std::vector<std::string> boxes;
};

using Events = std::vector<std::string>;

TEST_F(ControlOperations, EditTextsAndWhoChangedThem) {
    // The program's change is a change, not an edit; the same text again is no change.
    ctl.SetText(kEdit, "-12.5 \xC2\xB0" "C");
    EXPECT_EQ(ctl.Text(kEdit), "-12.5 \xC2\xB0" "C");
    EXPECT_EQ(dialog.rules.Take(), Events{"101:changed"});
    ctl.SetText(kEdit, "-12.5 \xC2\xB0" "C");
    EXPECT_TRUE(dialog.rules.Take().empty());
    // Typed by the operator: an edit and a change; leaving the box ends the edit.
    ctl.FocusAndSelect(kEdit);
    ::SendMessageW(Item(kEdit), WM_CHAR, L'7', 1);
    EXPECT_EQ(ctl.Text(kEdit), "7");
    ctl.Focus(kGo);
    EXPECT_EQ(dialog.rules.Take(), (Events{"101:edited", "101:changed", "101:done"}));
    // Digits only: a letter is refused.
    ctl.DigitsOnly(kEdit);
    ctl.FocusAndSelect(kEdit);
    ::SendMessageW(Item(kEdit), WM_CHAR, L'x', 1);
    EXPECT_EQ(ctl.Text(kEdit), "7");
    // Static texts and captions.
    ctl.SetText(kLabel, "Sensor 1");
    EXPECT_EQ(ctl.Text(kLabel), "Sensor 1");
    EXPECT_EQ(ctl.Text(kGo), "Go");
}

TEST_F(ControlOperations, CheckBoxesAndButtons) {
    // Plain box: the click toggles it and is reported; the program's setting is not reported.
    Click(Item(kBox), 5, 5);
    EXPECT_TRUE(ctl.Checked(kBox));
    ctl.SetChecked(kBox, false);
    EXPECT_FALSE(ctl.Checked(kBox));
    // Three-state box: the program sets each state; a click is reported and changes nothing.
    for (int state : {2, 1, 0, 2}) {
        ctl.SetCheckState(kTri, state);
        EXPECT_EQ(ctl.CheckState(kTri), state);
    }
    Click(Item(kTri), 5, 5);
    EXPECT_EQ(ctl.CheckState(kTri), 2);
    Click(Item(kGo), 5, 5);
    EXPECT_EQ(dialog.rules.Take(), (Events{"104:clicked", "105:clicked", "108:clicked"}));
    // Esc, the close box and the cancel button all go to the rules, which keep the dialog open.
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    Pump();
    Click(Item(kQuit), 5, 5);
    EXPECT_EQ(dialog.rules.Take(), (Events{"cancel", "cancel"}));
    EXPECT_FALSE(dialog.Controls().EndResult());
    // Enable, show, the default button.
    EXPECT_FALSE(ctl.Enabled(kIdOk));
    ctl.Enable(kIdOk, true);
    EXPECT_TRUE(ctl.Enabled(kIdOk));
    ctl.Show(kGo, false);
    EXPECT_FALSE(ctl.Shown(kGo));
    ctl.Show(kGo, true);
    EXPECT_TRUE(ctl.Shown(kGo));
    ctl.SetDefaultButton(kGo);
    EXPECT_EQ(LOWORD(::SendMessageW(hwnd, DM_GETDEFID, 0, 0)), kGo);
    EXPECT_FALSE(ctl.Has(4242));
    EXPECT_EQ(ctl.Text(4242), "");
}

// The poll disables the button the operator last used (a connection's end disables "Wheel..."):
// the focus moves on to a control that takes keys, so that Esc still reaches the dialog.
TEST_F(ControlOperations, DisablingTheFocusedControlKeepsTheKeyboard) {
    ctl.Enable(kGo, true);
    ctl.Focus(kGo);
    ASSERT_EQ(::GetFocus(), Item(kGo));
    ctl.Enable(kGo, false);
    HWND focus = ::GetFocus();
    ASSERT_NE(focus, nullptr) << "the keyboard went nowhere";
    EXPECT_NE(focus, Item(kGo));
    EXPECT_TRUE(::IsWindowEnabled(focus));
    EXPECT_EQ(::GetParent(focus), hwnd);
    dialog.rules.Take();
    ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 1);
    Pump();
    EXPECT_EQ(dialog.rules.Take(), Events{"cancel"});
}

TEST_F(ControlOperations, DropDownListSelections) {
    ctl.SetItems(kList, {"COM1", "COM2", "COM3"});
    EXPECT_EQ(ctl.ItemCount(kList), 3);
    EXPECT_EQ(ctl.Selection(kList), -1);
    // The program's selection is reported once per change, as the operator's is.
    ctl.Select(kList, 2);
    ctl.Select(kList, 2);
    EXPECT_EQ(ctl.Selection(kList), 2);
    ctl.Select(kList, 7);
    EXPECT_EQ(ctl.Selection(kList), -1);
    EXPECT_EQ(dialog.rules.Take(), (Events{"103:sel", "103:sel"}));
    ctl.SetItems(kList, {});
    EXPECT_EQ(ctl.ItemCount(kList), 0);
}

TEST_F(ControlOperations, UpDownStepsItsBuddy) {
    ctl.SetRange(kSpin, 0, 10);
    ctl.SetBuddy(kSpin, kEdit, true);
    dialog.rules.Take();
    // The upper arrow: the rules hear the proposed step before the buddy shows it.
    RECT r{};
    ::GetClientRect(Item(kSpin), &r);
    Click(Item(kSpin), r.right / 2, 1);
    Click(Item(kSpin), r.right / 2, 1);
    EXPECT_EQ(ctl.Text(kEdit), "2");
    Click(Item(kSpin), r.right / 2, r.bottom - 2);
    EXPECT_EQ(ctl.Text(kEdit), "1");
    // A typed number is where the next step starts; the range holds.
    ctl.SetText(kEdit, "10");
    Click(Item(kSpin), r.right / 2, 1);
    EXPECT_EQ(ctl.Text(kEdit), "10");
    Click(Item(kSpin), r.right / 2, r.bottom - 2);
    EXPECT_EQ(ctl.Text(kEdit), "9");
    // Setting the same buddy again leaves its size alone.
    const RECT before = OnScreenInDialog(hwnd, Item(kEdit));
    ctl.SetBuddy(kSpin, kEdit, true);
    EXPECT_EQ(OnScreenInDialog(hwnd, Item(kEdit)).right, before.right);
    const Events events = dialog.rules.Take();
    EXPECT_EQ(std::count(events.begin(), events.end(), "102:delta:1"), 3);
    EXPECT_EQ(std::count(events.begin(), events.end(), "102:delta:-1"), 2);
    // Without the buddy integer, the step is only reported.
    ctl.SetBuddy(kSpin, kEdit, false);
    ctl.SetText(kEdit, "x");
    Click(Item(kSpin), r.right / 2, 1);
    EXPECT_EQ(ctl.Text(kEdit), "x");
}

TEST_F(ControlOperations, ReportListColumnsRowsCells) {
    ctl.SetColumns(kRows, {"Filter", "Name", "Offset"});
    EXPECT_EQ(ctl.ColumnCount(kRows), 3);
    ctl.AddRow(kRows, {"1", "Red", "0"}, 0);
    ctl.AddRow(kRows, {"2", "Lum\xC3\xA9", "-25"}, 1);
    EXPECT_EQ(ctl.RowCount(kRows), 2);
    EXPECT_EQ(ctl.CellText(kRows, 1, 1), "Lum\xC3\xA9");
    EXPECT_EQ(ctl.CellText(kRows, 1, 2), "-25");
    ctl.SetCellText(kRows, 0, 2, "130");
    EXPECT_EQ(ctl.CellText(kRows, 0, 2), "130");
    EXPECT_EQ(ctl.CellText(kRows, 5, 0), "");
    ctl.SetRowImage(kRows, 0, 1);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = 0;
    ASSERT_TRUE(ListView_GetItem(Item(kRows), &item));
    EXPECT_EQ(item.iImage, 1);
    // New heads start a new table.
    ctl.SetColumns(kRows, {"A", "B"});
    EXPECT_EQ(ctl.ColumnCount(kRows), 2);
    EXPECT_EQ(ctl.RowCount(kRows), 0);
    ctl.AddRow(kRows, {"x", "y"}, 0);
    ctl.ClearRows(kRows);
    EXPECT_EQ(ctl.RowCount(kRows), 0);
}

TEST_F(ControlOperations, MessagesAndTheEnd) {
    ctl.Message("Load failed", "", MessageIcon::Warning);
    ctl.Message("text", "Load Failed", MessageIcon::Critical);
    EXPECT_EQ(boxes, (std::vector<std::string>{"Load failed|velq3|" + std::to_string(MB_ICONWARNING),
                                               "text|Load Failed|" + std::to_string(MB_ICONERROR)}));
    EXPECT_EQ(ctl.ClientArea().right, Pixels(hwnd, 0, 0, 200, 156).right);
    // Nested wait cursors end with the outer one.
    ctl.WaitCursor(true);
    ctl.WaitCursor(true);
    ctl.WaitCursor(false);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_WAIT));
    ctl.WaitCursor(false);
    EXPECT_NE(::GetCursor(), ::LoadCursorW(nullptr, IDC_WAIT));
    // A modeless dialog ends hidden with its result.
    ::ShowWindow(hwnd, SW_SHOWNA);
    ASSERT_TRUE(::IsWindowVisible(hwnd));
    ctl.EndDialog(kIdOk);
    EXPECT_EQ(ctl.EndResult(), kIdOk);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
}

// A modal run ends with the result the rules give.
class EndsAtOnce : public Win32RulesDialog, public DialogRules {
public:
    EndsAtOnce() : Win32RulesDialog(kAllKindsTemplate) {}
    void OnCommand(int, Notify) override {}
    void OnCancel() override {}

protected:
    void Initialize() override {
        AttachRules(*this);
        ::PostMessageW(Window(), WM_COMMAND, MAKEWPARAM(kGo, BN_CLICKED), 0);
        m_Ctl.EndDialog(kIdOk);
    }
};

TEST(ModalRun, EndsWithTheRulesResult) {
    EndsAtOnce dialog;
    EXPECT_EQ(dialog.RunModal(nullptr), kIdOk);
    EXPECT_EQ(dialog.Window(), nullptr);
}

// ---- The night palette and the scale ----

// What a dialog answers to a control colour message: the colours set in the device context and
// the brush's colour (nothing when the dialog left the brush to the system and there is none).
struct ColourAnswer {
    COLORREF text, back;
    std::optional<COLORREF> brush;
};

ColourAnswer AskColours(HWND dialog, UINT msg, HWND control) {
    HDC dc = ::GetDC(dialog);
    // Colours no answer gives, so that an answer that sets nothing shows.
    ::SetTextColor(dc, RGB(1, 2, 3));
    ::SetBkColor(dc, RGB(4, 5, 6));
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(dialog, msg, reinterpret_cast<WPARAM>(dc),
                                                              reinterpret_cast<LPARAM>(control)));
    ColourAnswer a{::GetTextColor(dc), ::GetBkColor(dc), std::nullopt};
    LOGBRUSH lb{};
    if (brush && ::GetObjectW(brush, sizeof lb, &lb) == sizeof lb) a.brush = lb.lbColor;
    ::ReleaseDC(dialog, dc);
    return a;
}

bool IsNightRed(COLORREF c) { return GetRValue(c) > 0 && GetGValue(c) == 0 && GetBValue(c) == 0; }

struct ColourCase {
    const char* name;
    UINT msg;
    int control;  // kNoId: the dialog itself
    int dayBack;  // the system colour of the background by day
};

const ColourCase kColourCases[] = {
    {"static", WM_CTLCOLORSTATIC, kLabel, COLOR_3DFACE},
    {"edit", WM_CTLCOLOREDIT, kEdit, COLOR_WINDOW},
    {"dialog", WM_CTLCOLORDLG, kNoId, COLOR_3DFACE},
    {"button", WM_CTLCOLORBTN, kBox, COLOR_3DFACE},
};

class NightPalette : public ::testing::TestWithParam<ColourCase> {};

// At night red text on black with a black brush; switched off again the system's colours,
// as a dialog without a look answers.
TEST_P(NightPalette, ControlColoursRedOnBlackAtNightSystemOtherwise) {
    const ColourCase& c = GetParam();
    Win32Look look;
    look.SetNight(true);
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND control = c.control == kNoId ? hwnd : ::GetDlgItem(hwnd, c.control);
    ASSERT_NE(control, nullptr);

    ColourAnswer night = AskColours(hwnd, c.msg, control);
    EXPECT_TRUE(IsNightRed(night.text)) << std::hex << night.text;
    EXPECT_EQ(night.back, RGB(0, 0, 0));
    ASSERT_TRUE(night.brush.has_value());
    EXPECT_EQ(*night.brush, RGB(0, 0, 0));

    look.SetNight(false);
    const ColourAnswer day = AskColours(hwnd, c.msg, control);
    EXPECT_EQ(day.text, ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(day.back, ::GetSysColor(c.dayBack));
    AllKindsDialog plain;
    HWND plainHwnd = plain.Create(nullptr);
    ASSERT_NE(plainHwnd, nullptr);
    HWND plainControl = c.control == kNoId ? plainHwnd : ::GetDlgItem(plainHwnd, c.control);
    const ColourAnswer system = AskColours(plainHwnd, c.msg, plainControl);
    EXPECT_EQ(day.text, system.text);
    EXPECT_EQ(day.back, system.back);
    EXPECT_EQ(day.brush, system.brush);

    // Switched on again, an open window follows at once.
    look.SetNight(true);
    night = AskColours(hwnd, c.msg, control);
    EXPECT_TRUE(IsNightRed(night.text)) << std::hex << night.text;
    EXPECT_EQ(night.back, RGB(0, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Windows, NightPalette, ::testing::ValuesIn(kColourCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The report list takes the night colours when the palette switches, and the system's back.
TEST(NightPaletteList, ReportListFollowsTheSwitch) {
    Win32Look look;
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND list = ::GetDlgItem(hwnd, kRows);
    const COLORREF dayBack = ListView_GetBkColor(list), dayText = ListView_GetTextColor(list),
                   dayTextBack = ListView_GetTextBkColor(list);
    look.SetNight(true);
    EXPECT_EQ(ListView_GetBkColor(list), RGB(0, 0, 0));
    EXPECT_EQ(ListView_GetTextBkColor(list), RGB(0, 0, 0));
    EXPECT_TRUE(IsNightRed(ListView_GetTextColor(list)));
    look.SetNight(false);
    EXPECT_EQ(ListView_GetBkColor(list), dayBack);
    EXPECT_EQ(ListView_GetTextColor(list), dayText);
    EXPECT_EQ(ListView_GetTextBkColor(list), dayTextBack);
    // A window opened at night is in the night colours from the start.
    look.SetNight(true);
    AllKindsDialog later;
    later.SetLook(&look);
    ASSERT_NE(later.Create(nullptr), nullptr);
    EXPECT_EQ(ListView_GetBkColor(::GetDlgItem(later.Window(), kRows)), RGB(0, 0, 0));
}

// The push buttons, which the control colour messages do not reach, are drawn by the look at
// night: nothing but reds and black; by day they are the system's buttons again.
TEST(NightPaletteList, PushButtonsDrawnInRedsAtNight) {
    Win32Look look;
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND go = ::GetDlgItem(hwnd, kGo), box = ::GetDlgItem(hwnd, kBox);
    auto type = [](HWND w) { return ::GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK; };
    const LONG_PTR dayType = type(go), boxType = type(box);
    look.SetNight(true);
    EXPECT_EQ(type(go), BS_OWNERDRAW);
    EXPECT_EQ(type(box), boxType);  // check boxes keep their own type

    RECT r{};
    ::GetClientRect(go, &r);
    Canvas canvas(hwnd, r.right, r.bottom);
    HDC dc = canvas.Dc();
    ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    for (UINT state : {0u, static_cast<UINT>(ODS_FOCUS), static_cast<UINT>(ODS_DISABLED | ODS_SELECTED)}) {
        const RECT white{0, 0, r.right, r.bottom};
        ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        DRAWITEMSTRUCT item{ODT_BUTTON, static_cast<UINT>(kGo), 0, ODA_DRAWENTIRE, state, go, dc, r, 0};
        ::SendMessageW(hwnd, WM_DRAWITEM, kGo, reinterpret_cast<LPARAM>(&item));
        int reds = 0, others = 0;
        for (int y = 0; y < r.bottom; ++y)
            for (int x = 0; x < r.right; ++x) {
                const COLORREF c = ::GetPixel(dc, x, y);
                if (IsNightRed(c)) ++reds;
                else if (c != RGB(0, 0, 0)) ++others;
            }
        EXPECT_EQ(others, 0) << "state " << state;
        EXPECT_EQ(reds, r.right * r.bottom) << "state " << state;  // filled, no black hole either
    }

    // By day the look draws nothing.
    look.SetNight(false);
    EXPECT_EQ(type(go), dayType);
    const RECT white{0, 0, r.right, r.bottom};
    ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DRAWITEMSTRUCT item{ODT_BUTTON, static_cast<UINT>(kGo), 0, ODA_DRAWENTIRE, 0, go, dc, r, 0};
    ::SendMessageW(hwnd, WM_DRAWITEM, kGo, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(::GetPixel(dc, r.right / 2, r.bottom / 2), RGB(255, 255, 255));
}

// Group boxes, whose caption the common controls draw in the system's text colour whatever the
// control colour message says, are drawn by the look at night: a red frame and a red caption on
// black, nothing else; by day the system draws them again.
TEST(NightPaletteList, GroupBoxesDrawnInRedsAtNight) {
    Win32Look look;
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND box = nullptr;
    for (HWND c = ::GetWindow(hwnd, GW_CHILD); c && !box; c = ::GetWindow(c, GW_HWNDNEXT))
        if ((::GetWindowLongPtrW(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) box = c;
    ASSERT_NE(box, nullptr);
    RECT r{};
    ::GetClientRect(box, &r);
    Canvas canvas(hwnd, r.right, r.bottom);
    HDC dc = canvas.Dc();
    struct Count {
        int reds = 0, blacks = 0, others = 0, captionReds = 0;
        bool frameRed = false;
    };
    auto draw = [&] {
        const RECT white{0, 0, r.right, r.bottom};
        ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::SendMessageW(box, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        Count n;
        for (int y = 0; y < r.bottom; ++y)
            for (int x = 0; x < r.right; ++x) {
                const COLORREF c = ::GetPixel(dc, x, y);
                if (IsNightRed(c)) {
                    ++n.reds;
                    if (y < r.bottom / 4 && x > 2 && x < r.right / 2) ++n.captionReds;
                } else if (c == RGB(0, 0, 0)) {
                    ++n.blacks;
                } else if (c != RGB(255, 255, 255)) {
                    ++n.others;
                }
            }
        n.frameRed = IsNightRed(::GetPixel(dc, r.right / 2, r.bottom - 1)) && IsNightRed(::GetPixel(dc, 0, r.bottom / 2));
        return n;
    };
    look.SetNight(true);
    const Count night = draw();
    EXPECT_EQ(night.others, 0);
    EXPECT_TRUE(night.frameRed);
    EXPECT_GT(night.captionReds, 10);  // the caption's letters
    EXPECT_GT(night.blacks, 10);       // behind them
    EXPECT_EQ(::GetPixel(dc, r.right / 2, r.bottom / 2), RGB(255, 255, 255));  // the inside is left alone

    look.SetNight(false);
    const Count day = draw();
    EXPECT_EQ(day.reds, 0);
    EXPECT_GT(day.others + day.blacks, 0);  // the system's frame and caption
}

// Check boxes, whose square the control colour messages do not reach, are drawn by the look at
// night: every state of the two- and three-state boxes, with and without the focus, in nothing
// but reds on black; checked and third-state squares differ from empty ones, and the focus shows.
// They keep their behaviour (a click and the space bar toggle the plain box, the three-state box
// only reports), and by day the system draws them again.
TEST(NightPaletteList, CheckBoxesDrawnInRedsAtNight) {
    Win32Look look;
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    Win32DialogControls& ctl = dialog.Controls();
    struct Count {
        int reds = 0, blacks = 0, others = 0;
    };
    auto draw = [&](HWND box) {
        RECT r{};
        ::GetClientRect(box, &r);
        Canvas canvas(box, r.right, r.bottom);
        HDC dc = canvas.Dc();
        const RECT white{0, 0, r.right, r.bottom};
        ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::SendMessageW(box, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
        Count n;
        for (int y = 0; y < r.bottom; ++y)
            for (int x = 0; x < r.right; ++x) {
                const COLORREF c = ::GetPixel(dc, x, y);
                if (IsNightRed(c)) ++n.reds;
                else if (c == RGB(0, 0, 0)) ++n.blacks;
                else ++n.others;
            }
        return n;
    };

    look.SetNight(true);
    struct Case {
        int id;
        int state;
        bool focus;
    };
    const Case cases[] = {{kBox, 0, false}, {kBox, 1, false}, {kBox, 0, true}, {kBox, 1, true},
                          {kTri, 0, false}, {kTri, 1, false}, {kTri, 2, false}, {kTri, 2, true}};
    std::map<std::string, int> reds;
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.id) + "/" + std::to_string(c.state) + "/" + std::to_string(c.focus);
        ctl.SetCheckState(c.id, c.state);
        ctl.Focus(c.focus ? c.id : kGo);
        const Count n = draw(::GetDlgItem(hwnd, c.id));
        EXPECT_EQ(n.others, 0) << name;
        EXPECT_GT(n.blacks, 0) << name;
        EXPECT_GT(n.reds, 10) << name;  // the square's frame and the text
        reds[name] = n.reds;
    }
    EXPECT_GT(reds["104/1/0"], reds["104/0/0"]);
    EXPECT_GT(reds["104/0/1"], reds["104/0/0"]);
    EXPECT_GT(reds["105/1/0"], reds["105/0/0"]);
    EXPECT_GT(reds["105/2/0"], reds["105/0/0"]);
    EXPECT_NE(reds["105/2/0"], reds["105/1/0"]);

    // The behaviour stays the control's.
    ctl.SetCheckState(kBox, 0);
    ctl.SetCheckState(kTri, 1);
    dialog.rules.Take();
    HWND box = ::GetDlgItem(hwnd, kBox), tri = ::GetDlgItem(hwnd, kTri);
    ::SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(ctl.Checked(kBox));
    ctl.Focus(kBox);
    ::SendMessageW(box, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageW(box, WM_KEYUP, VK_SPACE, 0);
    EXPECT_FALSE(ctl.Checked(kBox));
    ::SendMessageW(tri, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SendMessageW(tri, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(ctl.CheckState(kTri), 1);
    EXPECT_EQ(dialog.rules.Take(), (std::vector<std::string>{"104:clicked", "104:clicked", "105:clicked"}));
    EXPECT_EQ(draw(box).others, 0);

    // By day the system's drawing: no night reds, and the light inside of the square.
    look.SetNight(false);
    for (int id : {kBox, kTri}) {
        const Count day = draw(::GetDlgItem(hwnd, id));
        EXPECT_EQ(day.reds, 0) << id;
        EXPECT_GT(day.others, 0) << id;
    }
}

// Ctrl+N in a window's control switches the palette (the keyboard of a dialog passes the
// thread's message filter); N alone is typed.
TEST(NightPaletteList, CtrlNSwitches) {
    Win32Look look;
    AllKindsDialog dialog;
    dialog.SetLook(&look);
    HWND hwnd = dialog.Create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND edit = ::GetDlgItem(hwnd, kEdit);
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    const BYTE before = keys[VK_CONTROL];
    auto press = [&](bool ctrl) {
        keys[VK_CONTROL] = ctrl ? 0x80 : 0;
        ::SetKeyboardState(keys);
        MSG msg{edit, WM_KEYDOWN, 'N', 1, 0, {}};
        return ::IsDialogMessageW(hwnd, &msg) != FALSE;
    };
    EXPECT_TRUE(press(true));
    EXPECT_TRUE(look.Night());
    EXPECT_TRUE(press(true));
    EXPECT_FALSE(look.Night());
    press(false);
    EXPECT_FALSE(look.Night());
    keys[VK_CONTROL] = before;
    ::SetKeyboardState(keys);
}

class ScaledTemplate : public ::testing::TestWithParam<Window> {};

// At 150 % the dialog font is 12 points instead of 8, and the dialog units follow it: every
// control sits where the template puts it in the larger font's units (+-1 px), and those units
// (the font's average width and line height) are 1.5 times those at 100 % as far as the font's
// own metrics allow (within 12 %, as in the Qt layer): a font's metrics do not grow exactly with
// its point size.
TEST_P(ScaledTemplate, ControlsOneAndAHalfTimesAt150) {
    const DialogTemplate& t = *GetParam().tmpl;
    struct Built {
        RECT client{};
        RECT units{0, 0, 4, 8};  // the base units: 4 by 8 dialog units in pixels
        LONG fontHeight = 0;
        std::vector<RECT> controls;
    };
    auto build = [&t](int percent) {
        Win32Look look;
        look.SetScale(percent);
        Win32RulesDialog dialog(t);
        dialog.SetLook(&look);
        Built out;
        HWND hwnd = dialog.Create(nullptr);
        if (!hwnd) return out;
        ::GetClientRect(hwnd, &out.client);
        ::MapDialogRect(hwnd, &out.units);
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof(font), &font);
        out.fontHeight = font.lfHeight;
        for (HWND c = ::GetWindow(hwnd, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
            out.controls.push_back(OnScreenInDialog(hwnd, c));
        return out;
    };
    const Built a = build(100), b = build(150);
    ASSERT_EQ(a.controls.size(), t.controls.size());
    ASSERT_EQ(b.controls.size(), a.controls.size());
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    EXPECT_EQ(a.fontHeight, -::MulDiv(t.pointSize, dpi, 72));
    EXPECT_EQ(b.fontHeight, -::MulDiv(t.pointSize * 3 / 2, dpi, 72));

    for (const auto& [base, scaled] : {std::pair{a.units.right, b.units.right}, std::pair{a.units.bottom, b.units.bottom}}) {
        EXPECT_NEAR(static_cast<double>(scaled) / base, 1.5, 1.5 * 0.12) << scaled << " vs " << base;
    }
    auto px = [&b](int x, int y) {
        return POINT{::MulDiv(x, b.units.right, 4), ::MulDiv(y, b.units.bottom, 8)};
    };
    EXPECT_EQ(b.client.right, px(t.cx, t.cy).x);
    EXPECT_EQ(b.client.bottom, px(t.cx, t.cy).y);
    for (size_t i = 0; i < a.controls.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        // Drop-down lists size their own closed height from the font; an up-down placed on its
        // buddy takes the buddy's right end, and the buddy gives up that room (both checked at
        // 100 % against the template).
        const bool ownHeight = c.kind == ControlKind::ComboList;
        const bool placed = c.kind == ControlKind::UpDown && (c.style & kAlignRightOfPrevious);
        const bool buddy = i + 1 < t.controls.size() && t.controls[i + 1].kind == ControlKind::UpDown &&
                           (t.controls[i + 1].style & kAlignRightOfPrevious);
        // Wine keeps a free-standing up-down at the arrows' own width, whatever the font.
        const bool ownWidth = c.kind == ControlKind::UpDown;
        const RECT& got = b.controls[i];
        const POINT topLeft = px(c.x, c.y);
        const POINT size = px(c.cx, c.cy);
        const std::string where = "control " + std::to_string(i) + " id " + std::to_string(c.id) + " " + Show(got);
        if (!placed) {
            EXPECT_NEAR(got.left, topLeft.x, 1) << where;
            EXPECT_NEAR(got.top, topLeft.y, 1) << where;
        }
        if (!placed && !buddy && !ownWidth) {
            EXPECT_NEAR(got.right, topLeft.x + size.x, 1) << where;
        }
        if (!placed && !ownHeight) {
            EXPECT_NEAR(got.bottom, topLeft.y + size.y, 1) << where;
        }
        // And the whole layout grows: the far edges further out than at 100 %.
        const RECT& small = a.controls[i];
        if (!ownWidth) {
            EXPECT_GT(got.right, small.right) << where;
        }
        EXPECT_GT(got.bottom, small.bottom) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, ScaledTemplate, ::testing::ValuesIn(kWindows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScaleSetting, OnlyTheStepsAreTaken) {
    Win32Look look;
    for (int percent : {100, 125, 150, 175, 200}) {
        look.SetScale(percent);
        EXPECT_EQ(look.Scale(), percent);
    }
    for (int percent : {0, 99, 130, 201, -150}) {
        look.SetScale(percent);
        EXPECT_EQ(look.Scale(), 200) << percent;
    }
}

// The per-user settings of the look tests, under a key of this process's own.
class StoredLook : public ::testing::Test {
protected:
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, KeyName().c_str()); }
    static std::string KeyName() { return "Software\\velq3-tests\\look-" + std::to_string(::GetCurrentProcessId()); }
    RegistryHive hive{{}, "HKEY_CURRENT_USER\\" + KeyName()};
};

// "Night Mode" chosen in any window's menu (the command as the menu sends it) switches the
// palette of every open window at once, as Ctrl+N does, and each switch is stored for the next
// start.
TEST_F(StoredLook, NightCommandInEveryWindowSwitchesAllAndStores) {
    Win32Look look(&hive);
    ASSERT_FALSE(look.Night());
    std::vector<std::unique_ptr<Win32RulesDialog>> dialogs;
    std::vector<const DialogTemplate*> templates{&kTermGraphTemplate};
    for (const Window& w : kWindows) templates.push_back(w.tmpl);
    for (const DialogTemplate* t : templates) {
        dialogs.push_back(std::make_unique<Win32RulesDialog>(*t));
        dialogs.back()->SetLook(&look);
        ASSERT_NE(dialogs.back()->Create(nullptr), nullptr) << t->caption;
    }
    auto allNight = [&](bool night) {
        for (const auto& d : dialogs) {
            const ColourAnswer a = AskColours(d->Window(), WM_CTLCOLORDLG, d->Window());
            if (night != (a.back == RGB(0, 0, 0) && IsNightRed(a.text))) return false;
        }
        return true;
    };
    bool expected = false;
    for (const auto& d : dialogs) {
        expected = !expected;
        ::SendMessageW(d->Window(), WM_COMMAND, MAKEWPARAM(Win32Look::kNightModeCommand, 0), 0);
        EXPECT_EQ(look.Night(), expected) << d->Template().caption;
        EXPECT_EQ(LoadNightMode(hive), expected) << d->Template().caption;
        EXPECT_TRUE(allNight(expected)) << d->Template().caption;
    }
    // Ctrl+N stores as the menu does.
    HWND window = dialogs.front()->Window();
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    const BYTE before = keys[VK_CONTROL];
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    MSG msg{window, WM_KEYDOWN, 'N', 1, 0, {}};
    EXPECT_TRUE(::IsDialogMessageW(window, &msg));
    keys[VK_CONTROL] = before;
    ::SetKeyboardState(keys);
    EXPECT_EQ(look.Night(), !expected);
    EXPECT_EQ(LoadNightMode(hive), !expected);
    // The next start reads the last choice.
    EXPECT_EQ(Win32Look(&hive).Night(), !expected);
}

// A run's own choices (the command line's) are not stored; the operator's scale is.
TEST_F(StoredLook, OnlyTheOperatorsChoicesAreStored) {
    {
        Win32Look look(&hive);
        look.SetNight(true);
        look.SetScale(150);
    }
    Win32Look next(&hive);
    EXPECT_FALSE(next.Night());
    EXPECT_EQ(next.Scale(), 100);
    next.ChooseScale(175);
    EXPECT_EQ(next.Scale(), 175);
    EXPECT_EQ(LoadUiScale(hive), 175);
    next.ChooseScale(130);  // no step: nothing changes
    EXPECT_EQ(next.Scale(), 175);
    EXPECT_EQ(LoadUiScale(hive), 175);
    EXPECT_EQ(Win32Look(&hive).Scale(), 175);
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
    return text;
}

bool MenuChecked(HMENU menu, int position) {
    return (::GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION) & MF_CHECKED) != 0;
}

// The context menu: "Night Mode" checked while the palette is on; the main window's also has
// "Larger", "Smaller" and "Scale" with every step, the present one checked.
TEST(LookMenu, EntriesAndTheirChecks) {
    struct Case {
        bool night;
        int scale;
        bool withScale;
    };
    for (const Case c : {Case{false, 100, false}, Case{true, 100, false}, Case{false, 100, true}, Case{true, 175, true},
                         Case{false, 200, true}}) {
        const std::string name = std::to_string(c.night) + "/" + std::to_string(c.scale) + "/" + std::to_string(c.withScale);
        Win32Look look;
        look.SetNight(c.night);
        look.SetScale(c.scale);
        HMENU menu = look.BuildMenu(c.withScale);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(::GetMenuItemCount(menu), c.withScale ? 5 : 1) << name;
        EXPECT_EQ(::GetMenuItemID(menu, 0), Win32Look::kNightModeCommand);
        EXPECT_EQ(MenuText(menu, 0).substr(0, 10), L"Night Mode");
        EXPECT_EQ(MenuChecked(menu, 0), c.night) << name;
        if (c.withScale) {
            EXPECT_EQ(::GetMenuItemID(menu, 2), Win32Look::kLargerCommand);
            EXPECT_EQ(MenuText(menu, 2).substr(0, 6), L"Larger");
            EXPECT_EQ(::GetMenuItemID(menu, 3), Win32Look::kSmallerCommand);
            EXPECT_EQ(MenuText(menu, 3).substr(0, 7), L"Smaller");
            EXPECT_EQ(MenuText(menu, 4), L"Scale");
            HMENU steps = ::GetSubMenu(menu, 4);
            ASSERT_NE(steps, nullptr) << name;
            ASSERT_EQ(::GetMenuItemCount(steps), static_cast<int>(kUiScaleSteps.size()));
            for (int i = 0; i < ::GetMenuItemCount(steps); ++i) {
                EXPECT_EQ(MenuText(steps, i), std::to_wstring(kUiScaleSteps[i]) + L" %");
                EXPECT_EQ(MenuChecked(steps, i), kUiScaleSteps[i] == c.scale) << name << " " << i;
                EXPECT_EQ(look.ScaleOfCommand(::GetMenuItemID(steps, i)), kUiScaleSteps[i]);
            }
        }
        ::DestroyMenu(menu);
    }
}

// What each scale command stands for at a scale: one step either way, held at the ends, or
// the step named; any other command is no scale command.
TEST(LookMenu, ScaleCommandsFromEachScale) {
    struct Case {
        int scale;
        UINT command;
        std::optional<int> chosen;
    };
    const Case cases[] = {
        {100, Win32Look::kLargerCommand, 125},  {125, Win32Look::kLargerCommand, 150},
        {200, Win32Look::kLargerCommand, 200},  {100, Win32Look::kSmallerCommand, 100},
        {175, Win32Look::kSmallerCommand, 150}, {150, Win32Look::kScaleCommandBase, 100},
        {100, Win32Look::kScaleCommandBase + 4, 200}, {100, Win32Look::kScaleCommandBase + 5, std::nullopt},
        {100, Win32Look::kNightModeCommand, std::nullopt}, {100, IDOK, std::nullopt},
    };
    for (const Case& c : cases) {
        Win32Look look;
        look.SetScale(c.scale);
        EXPECT_EQ(look.ScaleOfCommand(c.command), c.chosen) << c.scale << " " << std::hex << c.command;
        // Only the night switch is the look's own; the window acts on the scale.
        EXPECT_EQ(look.OnCommand(c.command), c.command == Win32Look::kNightModeCommand);
        EXPECT_EQ(look.Scale(), c.scale);
    }
}

// Pure green pixels (the third sensor's colour) in the top right quarter of the graph window's
// client area, where the legend stands, as the window paints itself.
int LegendGreens(const CWin32TermGraph& graph) {
    HWND hwnd = graph.Window();
    RECT r{};
    ::GetClientRect(hwnd, &r);
    Canvas canvas(hwnd, r.right, r.bottom);
    HDC dc = canvas.Dc();
    ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    int greens = 0;
    for (int y = 0; y < r.bottom / 4; ++y)
        for (int x = r.right / 2; x < r.right; ++x)
            if (::GetPixel(dc, x, y) == RGB(0, 255, 0)) ++greens;
    return greens;
}

// The graph's "Show Readings": off at first, beside "Night Mode" in the background's menu and
// checked while on; the command switches it, stores it for the next window and draws the newest
// reading in the legend (here the only text there: the sensors have no names, and one sample
// draws no line).
TEST_F(StoredLook, GraphReadingsCommandSwitchesStoresAndDraws) {
    DeviceEnvironment env;
    env.userHive = &hive;
    OrnFilterWheel fw(env);
    fw.TermometerName = {"", "", "", ""};
    const TermSample s{{kNoSample, kNoSample, 12.34f, kNoSample}, 0};
    AppendTermSample(fw.TermHistory, fw.TermHistoryTimes, s, 1700000000);
    Win32Look look(&hive);
    CWin32TermGraph graph(fw);
    graph.SetLook(&look);
    ASSERT_NE(graph.Create(nullptr), nullptr);
    EXPECT_FALSE(graph.ShowReadings());
    EXPECT_EQ(LegendGreens(graph), 0);

    for (const bool on : {true, false, true}) {
        ::SendMessageW(graph.Window(), WM_COMMAND, MAKEWPARAM(CWin32TermGraph::kShowReadingsCommand, 0), 0);
        EXPECT_EQ(graph.ShowReadings(), on);
        EXPECT_EQ(LoadGraphReadings(hive), on);
        EXPECT_EQ(hive.GetDword(kSettingsKey, kGraphReadingsValue), on ? 1u : 0u);
        const int greens = LegendGreens(graph);
        if (on) EXPECT_GT(greens, 10);  // the letters of "12.34"
        else EXPECT_EQ(greens, 0);
        HMENU menu = graph.BuildContextMenu();
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(::GetMenuItemCount(menu), 3);
        EXPECT_EQ(MenuText(menu, 0).substr(0, 10), L"Night Mode");
        EXPECT_EQ(::GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
        EXPECT_EQ(::GetMenuItemID(menu, 2), CWin32TermGraph::kShowReadingsCommand);
        EXPECT_EQ(MenuText(menu, 2), L"Show Readings");
        EXPECT_EQ(MenuChecked(menu, 2), on);
        ::DestroyMenu(menu);
    }
    // The next window reads the last choice; the night switch leaves it alone.
    CWin32TermGraph next(fw);
    EXPECT_TRUE(next.ShowReadings());
    next.SetLook(&look);
    ASSERT_NE(next.Create(nullptr), nullptr);
    ::SendMessageW(next.Window(), WM_COMMAND, MAKEWPARAM(Win32Look::kNightModeCommand, 0), 0);
    EXPECT_TRUE(look.Night());
    EXPECT_TRUE(next.ShowReadings());
    EXPECT_TRUE(LoadGraphReadings(hive));

    // Without a look the menu holds the graph's entry alone; another window without one has none.
    CWin32TermGraph plain(fw);
    HMENU menu = plain.BuildContextMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(::GetMenuItemCount(menu), 1);
    EXPECT_EQ(::GetMenuItemID(menu, 0), CWin32TermGraph::kShowReadingsCommand);
    ::DestroyMenu(menu);
    EXPECT_EQ(Win32RulesDialog(kTermGraphTemplate).BuildContextMenu(), nullptr);
}

// Every window carries the program's icon, large and small at the system's sizes, made from the
// program's picture (many colours, not a blank square); the icon is this program's resource 1.
TEST(ProgramIcon, EveryWindowHasTheProgramsIconInBothSizes) {
    ASSERT_NE(::FindResourceW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgramIconId), RT_GROUP_ICON), nullptr);
    std::vector<const DialogTemplate*> templates{&kTermGraphTemplate, &kAllKindsTemplate};
    for (const Window& w : kWindows) templates.push_back(w.tmpl);
    for (const DialogTemplate* t : templates) {
        Win32RulesDialog dialog(*t);
        HWND hwnd = dialog.Create(nullptr);
        ASSERT_NE(hwnd, nullptr) << t->caption;
        struct Size {
            WPARAM which;
            int cx, cy;
        };
        for (const Size s : {Size{ICON_BIG, SM_CXICON, SM_CYICON}, Size{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
            const auto icon = reinterpret_cast<HICON>(::SendMessageW(hwnd, WM_GETICON, s.which, 0));
            ASSERT_NE(icon, nullptr) << t->caption << " " << s.which;
            ICONINFO info{};
            ASSERT_TRUE(::GetIconInfo(icon, &info));
            BITMAP bm{};
            ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, ::GetSystemMetrics(s.cx)) << t->caption;
            if (info.hbmColor) ::DeleteObject(info.hbmColor);
            if (info.hbmMask) ::DeleteObject(info.hbmMask);
            // Drawn on white: the wheel's colours.
            const int cx = ::GetSystemMetrics(s.cx), cy = ::GetSystemMetrics(s.cy);
            Canvas canvas(hwnd, cx, cy);
            HDC dc = canvas.Dc();
            const RECT white{0, 0, cx, cy};
            ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            ::DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
            std::vector<COLORREF> colours;
            for (int y = 0; y < cy; ++y)
                for (int x = 0; x < cx; ++x) colours.push_back(::GetPixel(dc, x, y));
            std::sort(colours.begin(), colours.end());
            colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
            EXPECT_GT(colours.size(), 20u) << t->caption << " " << s.which;
            EXPECT_EQ(::GetPixel(dc, 0, 0), RGB(255, 255, 255));  // a transparent corner
        }
    }
}

// The command line's look options as both programs read them: "--night", "--scale" with a step
// (a "%" after it allowed), a bad or missing percentage an error, and anything else left to the
// caller.
struct LookOptionCase {
    std::vector<std::string> args;
    bool taken;              // the first argument is a look option
    std::size_t next;        // where the caller goes on (before its own ++)
    bool night;
    std::optional<int> scale;
    const char* error;       // part of the error, or nullptr for none
};

TEST(LookOptionsParse, NightScaleAndTheirErrors) {
    const LookOptionCase cases[] = {
        {{"--night"}, true, 0, true, std::nullopt, nullptr},
        {{"--scale", "150"}, true, 1, false, 150, nullptr},
        {{"--scale", "175%", "--night"}, true, 1, false, 175, nullptr},
        {{"--scale", "100"}, true, 1, false, 100, nullptr},
        {{"--scale", "200"}, true, 1, false, 200, nullptr},
        {{"--scale", "140"}, true, 1, false, std::nullopt, "--scale 140: expected a percentage, 100, 125, 150, 175 or 200"},
        {{"--scale", "big"}, true, 1, false, std::nullopt, "--scale big: expected a percentage"},
        {{"--scale", "-150"}, true, 1, false, std::nullopt, "expected a percentage"},
        {{"--scale", ""}, true, 1, false, std::nullopt, "expected a percentage"},
        {{"--scale"}, true, 0, false, std::nullopt, "--scale: expected a percentage, 100, 125, 150, 175 or 200"},
        {{"--scale=150"}, false, 0, false, std::nullopt, nullptr},
        {{"--nightly"}, false, 0, false, std::nullopt, nullptr},
        {{"/regserver"}, false, 0, false, std::nullopt, nullptr},
    };
    for (const LookOptionCase& c : cases) {
        const std::string name = c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : "");
        LookOptions options;
        std::size_t i = 0;
        std::string error = "stale";
        EXPECT_EQ(ParseLookOption(c.args, i, options, error), c.taken) << name;
        EXPECT_EQ(i, c.next) << name;
        EXPECT_EQ(options.night, c.night) << name;
        EXPECT_EQ(options.scale, c.scale) << name;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << name << ": " << error;
        } else if (c.taken) {
            EXPECT_EQ(error, "") << name;
        }
    }
    // Both options on one line, in either order, as the programs loop over them.
    for (const std::vector<std::string>& line : {std::vector<std::string>{"--night", "--scale", "125"},
                                                 std::vector<std::string>{"--scale", "125", "--night"}}) {
        LookOptions options;
        std::string error;
        for (std::size_t i = 0; i < line.size(); ++i) ASSERT_TRUE(ParseLookOption(line, i, options, error)) << i;
        EXPECT_TRUE(options.night);
        EXPECT_EQ(options.scale, 125);
        EXPECT_EQ(error, "");
    }
}

}  // namespace
}  // namespace velq3::ui
