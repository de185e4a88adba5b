// The Win32 main window and a settings dialog on the controller simulator behind COM1: the
// operator's clicks and edits reach the device through the window's rules, the poll (on the
// test's virtual time) fills the fields and the filter list, the cell editor writes a filter's
// focus shift to the controller, and OK writes the settings dialog's change while Cancel does
// not.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "ui/DialogTemplates.h"
#include "ui/FilterWheelSettingsTemplate.h"
#include "ui/win32/DialogTemplateEx.h"
#include "ui/win32/FilterWheelWindow.h"
#include "ui/win32/SettingsDialogs.h"
#include "ui/win32/Win32Look.h"
#include "ui/UiScaleSetting.h"

namespace velq3::ui {
namespace {

constexpr int kCom = 1;
const std::string kHiveRoot = "HKEY_CURRENT_USER\\Software\\velq3-tests\\window-" + std::to_string(::GetCurrentProcessId());

void Click(HWND button) { ::SendMessageW(button, BM_CLICK, 0, 0); }

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceEnvironment env;
        env.userHive = &hive;
        env.loop = &loop;
        device = std::make_unique<OrnFilterWheel>(env);
        device->SetSink([](std::string_view) {});
        window = std::make_unique<CWin32FilterWheelDlg>(*device, loop, CWin32FilterWheelDlg::PollOn::Loop);
        window->SetMessageHook([this](HWND, const std::wstring& title, const std::wstring& text, UINT) {
            boxes.push_back(Utf8(text) + "|" + Utf8(title));
        });
        ASSERT_TRUE(window->CreateModeless(nullptr));
        ctl = window->Controls();
        ASSERT_NE(ctl, nullptr);
    }
    void TearDown() override {
        window.reset();
        look.reset();
        device.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\velq3-tests\\window-" + std::to_string(::GetCurrentProcessId())).c_str());
    }
    HWND Item(int id) { return ::GetDlgItem(window->Window(), id); }
    void Tick() { loop.AdvanceBy(std::chrono::milliseconds(1000)); }
    void Connect() {
        ctl->Select(idc::kPortList, kCom);
        Click(Item(idc::kConnect));
        ASSERT_TRUE(device->IsOpen());
        Tick();
    }
    std::int16_t DeviceWord(int offset) {
        std::uint8_t b[2] = {};
        EXPECT_TRUE(device->ReadMemory(offset, 2, b));
        return static_cast<std::int16_t>(b[0] | (b[1] << 8));
    }

    RegistryHive hive{{}, kHiveRoot};
    std::unique_ptr<Win32Look> look;  // outlives the window's windows
    ManualMainLoop loop;
    std::unique_ptr<OrnFilterWheel> device;
    std::unique_ptr<CWin32FilterWheelDlg> window;
    Win32DialogControls* ctl = nullptr;
    std::vector<std::string> boxes;
};

TEST_F(Win32WindowTest, ConnectThroughTheWindowThenThePollFillsIt) {
    const int acting[] = {idc::kDisconnect, idc::kSave, idc::kLoad, idc::kSet, idc::kWheelSettings, idc::kHeater};
    // Closed: only the connection controls and Exit work.
    EXPECT_TRUE(ctl->Enabled(idc::kConnect));
    EXPECT_TRUE(ctl->Enabled(idc::kExit));
    for (int id : acting) EXPECT_FALSE(ctl->Enabled(id)) << id;
    EXPECT_EQ(ctl->RowCount(idc::kFilterList), 0);
    EXPECT_EQ(ctl->ItemCount(idc::kPortList), 16);

    Connect();
    EXPECT_EQ(device->ComPort, kCom);
    EXPECT_TRUE(device->IsClient(window->ClientKey()));
    for (int id : acting) EXPECT_TRUE(ctl->Enabled(id)) << id;
    // The wheel's filters, one row each, names first; the "#" column numbers them from 0.
    ASSERT_EQ(ctl->RowCount(idc::kFilterList), device->FilterCount());
    ASSERT_GT(device->FilterCount(), 1);
    EXPECT_EQ(ctl->CellText(idc::kFilterList, 0, 0), device->Filters[0].Name);
    EXPECT_EQ(ctl->CellText(idc::kFilterList, 1, 1), "1");
    EXPECT_FALSE(ctl->Text(idc::kPosition).empty());

    // Disconnect: the window lets go, the next tick shows it.
    Click(Item(idc::kDisconnect));
    Tick();
    EXPECT_FALSE(device->IsOpen());
    EXPECT_FALSE(ctl->Enabled(idc::kDisconnect));
}

TEST_F(Win32WindowTest, CellEditorWritesTheFocusShiftOrIsCancelled) {
    Connect();
    ASSERT_GT(device->FilterCount(), 1);
    const int before = device->Filters[1].FocuserPos;
    const int shifted = before + 17;
    // Esc: the cell keeps its value, nothing is written.
    window->BeginCellEdit(1, 3);
    ASSERT_TRUE(window->CellEditorOpen());
    ::SetWindowTextW(window->CellEditor(), L"999");
    window->CancelCellEdit();
    EXPECT_FALSE(window->CellEditorOpen());
    EXPECT_EQ(device->Filters[1].FocuserPos, before);
    // A typed value taken: the controller's memory holds it, the list shows it.
    window->BeginCellEdit(1, 3);
    ::SetWindowTextW(window->CellEditor(), std::to_wstring(shifted).c_str());
    window->CommitCellEdit();
    EXPECT_EQ(device->Filters[1].FocuserPos, shifted);
    EXPECT_EQ(DeviceWord(42 + 2 * 1), shifted);  // FilterFocuserPos[1]
    Tick();
    EXPECT_EQ(ctl->CellText(idc::kFilterList, 1, 3), std::to_string(shifted));
    // The simulator on COM1 serves the other test programs too: leave its memory as it was.
    window->BeginCellEdit(1, 3);
    ::SetWindowTextW(window->CellEditor(), std::to_wstring(before).c_str());
    window->CommitCellEdit();
}

TEST_F(Win32WindowTest, LoadOfAMissingFileSaysLoadFailed) {
    Connect();
    window->SetFileChooser([](bool, HWND) { return std::optional<std::string>("Z:\\no\\such\\file.fws2"); });
    Click(Item(idc::kLoad));
    EXPECT_EQ(boxes, (std::vector<std::string>{"Load failed|Load Failed"}));
    // Cancelled: nothing at all.
    window->SetFileChooser([](bool, HWND) { return std::optional<std::string>(); });
    Click(Item(idc::kLoad));
    EXPECT_EQ(boxes.size(), 1u);
}

// The filter wheel settings dialog: OK writes the changed speed into the controller's memory
// image, Cancel leaves it.
TEST_F(Win32WindowTest, SettingsDialogOkWritesCancelDoesNot) {
    Connect();
    const std::vector<std::uint8_t> image(device->ImageBytes(), device->ImageBytes() + device->m_MemorySize);
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        CWin32FilterWheelSettingsDlg dialog(*device);
        ASSERT_NE(dialog.Create(window->Window()), nullptr);
        Win32DialogControls& c = dialog.Controls();
        const std::string speed = c.Text(wheel_settings_id::kSpeed);
        ASSERT_FALSE(speed.empty());
        c.SetText(wheel_settings_id::kSpeed, std::to_string(std::stoi(speed) + 10));
        Click(::GetDlgItem(dialog.Window(), ok ? kIdOk : kIdCancel));
        EXPECT_EQ(c.EndResult(), ok ? kIdOk : kIdCancel);
        const std::vector<std::uint8_t> now(device->ImageBytes(), device->ImageBytes() + device->m_MemorySize);
        if (ok) EXPECT_NE(now, image);
        else EXPECT_EQ(now, image);
    }
}

// The rectangle of a control of the main window, in screen pixels.
RECT ControlRect(HWND window, int id) {
    RECT r{};
    ::GetWindowRect(::GetDlgItem(window, id), &r);
    return r;
}

LONG Width(const RECT& r) { return r.right - r.left; }

// The scale entries of the main window's menu (their commands as the menu sends them) and the
// keys: each choice is stored, and the window is built again at once at the new font, larger or
// smaller, where it was, keeping the connection, the port chosen and the graph window; a choice
// that changes nothing leaves the window as it is.
TEST_F(Win32WindowTest, ScaleChoicesRebuildTheWindowAtOnceKeepingItsState) {
    look = std::make_unique<Win32Look>(&hive);
    window->SetLook(look.get());
    int gone = 0;
    window->OnWindowGone = [&gone] { ++gone; };
    Connect();
    Click(Item(idc::kGraphs));
    ASSERT_NE(window->GraphWindow(), nullptr);
    ASSERT_TRUE(window->GraphWindow()->Visible());
    RECT frame{};
    ::GetWindowRect(window->Window(), &frame);
    LONG listWidth = Width(ControlRect(window->Window(), idc::kFilterList));

    auto command = [this](UINT id) { ::SendMessageW(window->Window(), WM_COMMAND, MAKEWPARAM(id, 0), 0); };
    struct Step {
        UINT command;
        int scale;     // the scale after it
        int growth;    // the filter list wider (+1), narrower (-1), the same window (0)
    };
    const Step steps[] = {
        {Win32Look::kLargerCommand, 125, +1},
        {Win32Look::kScaleCommandBase + 4, 200, +1},
        {Win32Look::kLargerCommand, 200, 0},
        {Win32Look::kSmallerCommand, 175, -1},
        {Win32Look::kScaleCommandBase + 1, 125, -1},
        {Win32Look::kScaleCommandBase + 1, 125, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.command) + " to " + std::to_string(step.scale));
        HWND before = window->Window();
        command(step.command);
        ASSERT_TRUE(window->WindowExists());
        EXPECT_EQ(look->Scale(), step.scale);
        EXPECT_EQ(LoadUiScale(hive), step.scale);
        EXPECT_EQ(window->Window() != before, step.growth != 0);
        const LONG width = Width(ControlRect(window->Window(), idc::kFilterList));
        EXPECT_EQ((width > listWidth) - (width < listWidth), step.growth) << width << " after " << listWidth;
        listWidth = width;
        RECT now{};
        ::GetWindowRect(window->Window(), &now);
        EXPECT_EQ(now.left, frame.left);
        EXPECT_EQ(now.top, frame.top);
        // What the window showed, it shows again; the link and the poll go on.
        ctl = window->Controls();
        ASSERT_NE(ctl, nullptr);
        EXPECT_TRUE(device->IsOpen());
        EXPECT_EQ(ctl->Selection(idc::kPortList), kCom);
        EXPECT_TRUE(ctl->Enabled(idc::kDisconnect));
        EXPECT_FALSE(ctl->Enabled(idc::kConnect));
        ASSERT_NE(window->GraphWindow(), nullptr);
        EXPECT_TRUE(window->GraphWindow()->Visible());
        EXPECT_EQ(ctl->RowCount(idc::kFilterList), device->FilterCount());
        ctl->Enable(idc::kConnect, true);
        Tick();  // the poll runs on the new window: the link is open
        EXPECT_FALSE(ctl->Enabled(idc::kConnect));
    }
    EXPECT_EQ(gone, 0);  // the run of the window did not end
}

// Ctrl++ (and Ctrl+=, the same key) and Ctrl+- act as Larger and Smaller; a port chosen in the
// list but not connected to stays chosen in the window built again.
TEST_F(Win32WindowTest, ScaleKeysKeepThePortChosen) {
    look = std::make_unique<Win32Look>(&hive);
    window->SetLook(look.get());
    ctl->Select(idc::kPortList, 4);
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    const BYTE before = keys[VK_CONTROL];
    auto press = [&](UINT key, bool control) {
        keys[VK_CONTROL] = control ? 0x80 : 0;
        ::SetKeyboardState(keys);
        HWND w = window->Window();
        MSG msg{::GetDlgItem(w, idc::kPortList), WM_KEYDOWN, key, 1, 0, {}};
        if (!::IsDialogMessageW(w, &msg)) ::DispatchMessageW(&msg);
        keys[VK_CONTROL] = before;
        ::SetKeyboardState(keys);
        // The scale changes once the key has been handled.
        MSG posted;
        while (::PeekMessageW(&posted, nullptr, 0, 0, PM_REMOVE)) {
            if (!window->Window() || !::IsDialogMessageW(window->Window(), &posted)) ::DispatchMessageW(&posted);
        }
    };
    struct Case {
        UINT key;
        bool control;
        int scale;
    };
    const Case cases[] = {{VK_OEM_PLUS, true, 125}, {VK_ADD, true, 150}, {VK_OEM_MINUS, true, 125},
                          {VK_SUBTRACT, true, 100}, {VK_SUBTRACT, true, 100}, {VK_OEM_PLUS, false, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + (c.control ? " with Ctrl" : " alone"));
        press(c.key, c.control);
        EXPECT_EQ(look->Scale(), c.scale);
        ASSERT_TRUE(window->WindowExists());
        ctl = window->Controls();
        EXPECT_EQ(ctl->Selection(idc::kPortList), 4);
    }
    EXPECT_EQ(LoadUiScale(hive), 100);
    EXPECT_FALSE(device->IsOpen());
}

// A window run modally (a client's setup dialog) is run again at the new scale, and the run
// ends only when the operator ends it.
TEST_F(Win32WindowTest, ModalRunGoesOnAtTheNewScale) {
    look = std::make_unique<Win32Look>(&hive);
    window->SetLook(look.get());
    window.reset();  // the fixture's modeless window: this test runs its own
    window = std::make_unique<CWin32FilterWheelDlg>(*device, loop, CWin32FilterWheelDlg::PollOn::Loop);
    window->SetLook(look.get());
    static CWin32FilterWheelDlg* running = nullptr;
    static std::vector<HWND> seen;
    static std::vector<LONG> widths;
    running = window.get();
    seen.clear();
    widths.clear();
    // Within the modal loop: the first window asks for a larger scale, the second one ends.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND w = running->Window();
        if (!w || (!seen.empty() && seen.back() == w)) return;
        seen.push_back(w);
        widths.push_back(Width(ControlRect(w, idc::kFilterList)));
        if (seen.size() == 1) ::SendMessageW(w, WM_COMMAND, MAKEWPARAM(Win32Look::kLargerCommand, 0), 0);
        else Click(::GetDlgItem(w, idc::kExit));
    });
    const int result = window->RunModal();
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(result, kIdCancel);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_GT(widths[1], widths[0]);
    EXPECT_EQ(look->Scale(), 125);
    EXPECT_FALSE(window->WindowExists());
}

}  // namespace
}  // namespace velq3::ui
