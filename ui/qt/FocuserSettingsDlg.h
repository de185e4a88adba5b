// The focuser settings dialog in Qt: template 201 built as widgets over its rules, with Qt's
// folder chooser and the microsteps table dialog as its hooks.
#pragma once

#include <QString>

#include <functional>

#include "ui/FocuserSettingsRules.h"
#include "ui/qt/QtDialog.h"

namespace velq3::ui {

class CFocuserSettingsDlg : public QtRulesDialog, public FocuserSettingsRules {
    Q_OBJECT
public:
    // Opens on `device` (see FocuserSettingsRules::OnInitDialog). Run it with exec(); OK leaves
    // result() Accepted.
    explicit CFocuserSettingsDlg(OrnFilterWheel& device, QWidget* parent = nullptr);

    // The folder chooser of Log Path... (the platform's by default): the chosen folder, or an
    // empty text when the operator cancelled.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& title, const QString& initial)>;
    FolderChooser ChooseFolder;
    // Opens the microsteps table dialog modally, owned by `parent`; nothing happens without it.
    std::function<void(QWidget* parent)> OpenMicrosteps;

protected:
    std::optional<std::string> PickFolder(const std::string& title, const std::string& initial) override;
    void RunMicrostepsDialog() override;
};

}  // namespace velq3::ui
