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

}  // namespace
}  // namespace velq3::ui
