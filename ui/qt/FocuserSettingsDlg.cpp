// The focuser settings dialog in Qt.
#include "ui/qt/FocuserSettingsDlg.h"

#include <QFileDialog>

namespace velq3::ui {

CFocuserSettingsDlg::CFocuserSettingsDlg(OrnFilterWheel& device, QWidget* parent)
    : QtRulesDialog(kFocuserSettingsTemplate, parent), FocuserSettingsRules(device, m_Ctl) {
    WrapStaticTexts(*this);
    ChooseFolder = [](QWidget* owner, const QString& title, const QString& initial) {
        return QFileDialog::getExistingDirectory(owner, title, initial);
    };
    OnInitDialog();
    AttachRules(*this);
}

std::optional<std::string> CFocuserSettingsDlg::PickFolder(const std::string& title, const std::string& initial) {
    if (!ChooseFolder) return std::nullopt;
    const QString chosen = ChooseFolder(this, QString::fromUtf8(title.c_str()), QString::fromUtf8(initial.c_str()));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toUtf8().toStdString();
}

void CFocuserSettingsDlg::RunMicrostepsDialog() {
    if (OpenMicrosteps) OpenMicrosteps(this);
}

}  // namespace velq3::ui
