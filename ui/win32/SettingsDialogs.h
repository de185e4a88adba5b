// The settings dialogs in Win32: filter wheel settings (203), focuser settings, heater and the
// "Microsteps Table", each its template built over its rules and run modally.
#pragma once

#include "ui/FilterWheelSettingsRules.h"
#include "ui/FocuserSettingsRules.h"
#include "ui/HeaterControlRules.h"
#include "ui/MicrostepsRules.h"
#include "ui/win32/Win32Dialog.h"

namespace velq3::ui {

class CWin32FilterWheelSettingsDlg : public Win32RulesDialog, public FilterWheelSettingsRules {
public:
    explicit CWin32FilterWheelSettingsDlg(OrnFilterWheel& device);

protected:
    void Initialize() override;
};

class CWin32HeaterControlDlg : public Win32RulesDialog, public HeaterControlRules {
public:
    explicit CWin32HeaterControlDlg(OrnFilterWheel& device);

protected:
    void Initialize() override;
};

class CWin32MicrostepsDlg : public Win32RulesDialog, public MicrostepsRules {
public:
    explicit CWin32MicrostepsDlg(OrnFilterWheel& device);

protected:
    void Initialize() override;
    // The table's picture below the table text, in GDI.
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};

class CWin32FocuserSettingsDlg : public Win32RulesDialog, public FocuserSettingsRules {
public:
    explicit CWin32FocuserSettingsDlg(OrnFilterWheel& device);

protected:
    void Initialize() override;
    std::optional<std::string> PickFolder(const std::string& title, const std::string& initial) override;
    void RunMicrostepsDialog() override;

private:
    OrnFilterWheel& m_Device;
};

}  // namespace velq3::ui
