// The settings dialogs in Win32.
#include "ui/win32/SettingsDialogs.h"

#include "ui/win32/CommonDialogs.h"

namespace velq3::ui {

namespace {

// The data exchange's refusals as a message box of the dialog.
PromptHook PromptIn(Win32DialogControls& controls) {
    return [&controls](const std::string& text) { controls.Message(text, "", MessageIcon::Warning); };
}

}  // namespace

CWin32FilterWheelSettingsDlg::CWin32FilterWheelSettingsDlg(OrnFilterWheel& device)
    : Win32RulesDialog(kFilterWheelSettingsTemplate), FilterWheelSettingsRules(device, m_Ctl) {}

void CWin32FilterWheelSettingsDlg::Initialize() {
    if (!Prompt) Prompt = PromptIn(m_Ctl);
    OnInitDialog();
    AttachRules(*this);
}

CWin32HeaterControlDlg::CWin32HeaterControlDlg(OrnFilterWheel& device)
    : Win32RulesDialog(kHeaterControlTemplate), HeaterControlRules(device, m_Ctl) {}

void CWin32HeaterControlDlg::Initialize() {
    OnInitDialog();
    AttachRules(*this);
}

CWin32MicrostepsDlg::CWin32MicrostepsDlg(OrnFilterWheel& device)
    : Win32RulesDialog(kMicrostepsTemplate), MicrostepsRules(device, m_Ctl) {}

void CWin32MicrostepsDlg::Initialize() {
    OnInitDialog();
    AttachRules(*this);
}

bool CWin32MicrostepsDlg::OnMessage(UINT msg, WPARAM, LPARAM, INT_PTR& result) {
    if (msg != WM_PAINT) return false;
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Window(), &ps);
    const MicrostepPicture picture = Picture();
    auto fill = [dc](const PixelBox& b) {
        const RECT r{b.left, b.top, b.right, b.bottom};
        ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    };
    fill(picture.vectorBox);
    fill(picture.curveBox);
    HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(BLACK_PEN));
    for (size_t i = 1; i < picture.curve.size(); ++i) {
        ::MoveToEx(dc, picture.curve[i - 1].x, picture.curve[i - 1].y, nullptr);
        ::LineTo(dc, picture.curve[i].x, picture.curve[i].y);
    }
    const PixelPoint& c = picture.centre;
    for (size_t k = 0; k + 1 < picture.vector.size(); ++k) {
        const PixelPoint& p = picture.vector[k];
        const PixelPoint& q = picture.vector[k + 1];
        ::MoveToEx(dc, c.x, c.y, nullptr);
        ::LineTo(dc, p.x, p.y);
        ::LineTo(dc, q.x, q.y);
    }
    ::SelectObject(dc, old);
    ::EndPaint(Window(), &ps);
    result = 0;
    return true;
}

CWin32FocuserSettingsDlg::CWin32FocuserSettingsDlg(OrnFilterWheel& device)
    : Win32RulesDialog(kFocuserSettingsTemplate), FocuserSettingsRules(device, m_Ctl), m_Device(device) {}

void CWin32FocuserSettingsDlg::Initialize() {
    if (!Prompt) Prompt = PromptIn(m_Ctl);
    OnInitDialog();
    AttachRules(*this);
}

std::optional<std::string> CWin32FocuserSettingsDlg::PickFolder(const std::string& title, const std::string& initial) {
    return ChooseFolderFor(Window(), title, initial);
}

void CWin32FocuserSettingsDlg::RunMicrostepsDialog() {
    CWin32MicrostepsDlg microsteps(m_Device);
    microsteps.SetLook(Look());
    microsteps.RunModal(Window());
}

}  // namespace velq3::ui
