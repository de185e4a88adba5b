// The dialogs' behaviour cases against the Win32 layer, under Wine: the same cases the Linux
// program runs against its Qt layer, on dialogs built from the same templates and driven through
// their real controls (button clicks, typed text, drop-down choices, up-down arrows, keys, the
// list's cell clicks).
#include <windows.h>
#include <commctrl.h>

#include "DialogLayers.h"
#include "platform/win32/Utf16.h"
#include "ui/DialogTemplates.h"
#include "ui/win32/FilterWheelWindow.h"
#include "ui/win32/SettingsDialogs.h"

namespace velq3::test {
namespace {

std::string Utf8Of(const std::wstring& w) { return win32::Narrow(w); }

// The operator's actions on the controls of a dialog or of the main window.
template <class Driver>
class Win32Operated : public Driver {
public:
    void Click(int id) override { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    // The text as typed: the edit tells its dialog that the operator changed it.
    void Type(int id, const std::string& text) override {
        ASSERT_NE(Item(id), nullptr) << id;
        ::SetWindowTextW(Item(id), win32::Widen(text).c_str());
    }
    // A drop-down choice: the list tells its dialog, as after the operator's pick.
    void Choose(int id, int index) override {
        HWND list = Item(id);
        ASSERT_NE(list, nullptr) << id;
        ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // A click on the upper or the lower arrow of an up-down.
    void Step(int id, bool up) override {
        HWND spin = Item(id);
        ASSERT_NE(spin, nullptr) << id;
        RECT r{};
        ::GetClientRect(spin, &r);
        const LPARAM at = MAKELPARAM(r.right / 2, up ? 1 : r.bottom - 2);
        ::SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(spin, WM_LBUTTONUP, 0, at);
    }
    // Esc, as the dialog manager passes it on.
    void Escape() override { ::SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

protected:
    virtual HWND Dialog() const = 0;
    HWND Item(int id) const { return ::GetDlgItem(Dialog(), id); }
};

// The focuser settings without the system's folder browser and the microsteps dialog.
class QuietFocuserSettings : public ui::CWin32FocuserSettingsDlg {
public:
    using CWin32FocuserSettingsDlg::CWin32FocuserSettingsDlg;

protected:
    std::optional<std::string> PickFolder(const std::string&, const std::string&) override { return std::nullopt; }
    void RunMicrostepsDialog() override {}
};

// A settings dialog, modeless, as the operator sees it.
class Win32Driver : public Win32Operated<DialogDriver> {
public:
    explicit Win32Driver(std::unique_ptr<ui::Win32RulesDialog> dialog) : m_Dialog(std::move(dialog)) {
        m_Dialog->Controls().SetMessageHook([this](HWND, const std::wstring&, const std::wstring& text, UINT) {
            m_Messages.push_back(Utf8Of(text));
        });
        EXPECT_NE(m_Dialog->Create(nullptr), nullptr);
        ::ShowWindow(m_Dialog->Window(), SW_SHOWNA);
    }

    ui::DialogControls& Controls() override { return m_Dialog->Controls(); }
    std::optional<int> Ended() const override { return m_Dialog->Controls().EndResult(); }
    std::vector<std::string> Messages() const override { return m_Messages; }

private:
    HWND Dialog() const override { return m_Dialog->Window(); }

    std::unique_ptr<ui::Win32RulesDialog> m_Dialog;
    std::vector<std::string> m_Messages;
};

// The main window without a modal loop; its poll runs on the test's loop.
class Win32WindowDriver : public Win32Operated<WindowDriver> {
public:
    Win32WindowDriver(OrnFilterWheel& device, ManualMainLoop& loop) : m_Loop(loop) {
        m_Window = std::make_unique<ui::CWin32FilterWheelDlg>(device, loop, ui::CWin32FilterWheelDlg::PollOn::Loop);
        m_Window->SetMessageHook([this](HWND, const std::wstring& title, const std::wstring& text, UINT) {
            boxes.push_back(Utf8Of(text) + "|" + Utf8Of(title));
        });
        m_Window->SetFileChooser([this](bool save, HWND) -> std::optional<std::string> {
            savedWith.push_back(save);
            pollingDuringChooser.push_back(m_Window->PollingEnabled);
            return chooserPath;
        });
        EXPECT_TRUE(m_Window->CreateModeless());
    }
    ~Win32WindowDriver() override { m_Window.reset(); }

    ui::FilterWheelRules& Rules() override { return *m_Window; }
    ui::DialogControls& Controls() override { return *m_Window->Controls(); }
    // A key in an edit box: the window's keyboard rules see it before the edit does.
    void ArrowKey(int editId, bool up) override {
        MSG msg{};
        msg.hwnd = Item(editId);
        msg.message = WM_KEYDOWN;
        msg.wParam = up ? VK_UP : VK_DOWN;
        if (!m_Window->PreTranslateKey(msg)) ::SendMessageW(msg.hwnd, msg.message, msg.wParam, 0);
    }
    // A click on the cell (the list's notification) opens the editor; the edit ends when the
    // focus has moved on, at the next tick.
    void EditCell(int row, int column, const std::string& text) override {
        HWND list = Item(ui::idc::kFilterList);
        ASSERT_NE(list, nullptr);
        RECT cell{};
        ASSERT_TRUE(ListView_GetSubItemRect(list, row, column, LVIR_BOUNDS, &cell));
        NMITEMACTIVATE click{};
        click.hdr.hwndFrom = list;
        click.hdr.idFrom = ui::idc::kFilterList;
        click.hdr.code = NM_CLICK;
        click.iItem = row;
        click.iSubItem = column;
        click.ptAction = {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
        ::SendMessageW(Dialog(), WM_NOTIFY, ui::idc::kFilterList, reinterpret_cast<LPARAM>(&click));
        ASSERT_TRUE(m_Window->CellEditorOpen());
        ::SetWindowTextW(m_Window->CellEditor(), win32::Widen(text).c_str());
        ::SetFocus(Item(ui::idc::kSensorName0 + 3));
        m_Loop.AdvanceBy(std::chrono::milliseconds(1000));
        EXPECT_FALSE(m_Window->CellEditorOpen());
    }

private:
    HWND Dialog() const override { return m_Window->Window(); }

    ManualMainLoop& m_Loop;
    std::unique_ptr<ui::CWin32FilterWheelDlg> m_Window;
};

class Win32Layer : public DialogLayer {
public:
    std::unique_ptr<DialogDriver> Open(DialogKind kind, OrnFilterWheel& device) override {
        switch (kind) {
            case DialogKind::WheelSettings:
                return std::make_unique<Win32Driver>(std::make_unique<ui::CWin32FilterWheelSettingsDlg>(device));
            case DialogKind::FocuserSettings:
                return std::make_unique<Win32Driver>(std::make_unique<QuietFocuserSettings>(device));
            case DialogKind::Heater:
                return std::make_unique<Win32Driver>(std::make_unique<ui::CWin32HeaterControlDlg>(device));
        }
        return nullptr;
    }
    std::unique_ptr<WindowDriver> OpenWindow(OrnFilterWheel& device, ManualMainLoop& loop) override {
        return std::make_unique<Win32WindowDriver>(device, loop);
    }
};

Win32Layer win32Layer;

INSTANTIATE_TEST_SUITE_P(Win32, DialogRulesTest, ::testing::Values(LayerParam{"Win32", &win32Layer}),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Win32, WindowRulesTest, ::testing::Values(LayerParam{"Win32", &win32Layer}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
