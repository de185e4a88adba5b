// The filter wheel settings dialog in Qt.
#include "ui/qt/FilterWheelSettingsDlg.h"

namespace velq3::ui {

CFilterWheelSettingsDlg::CFilterWheelSettingsDlg(OrnFilterWheel& device, QWidget* parent)
    : QtRulesDialog(kFilterWheelSettingsTemplate, parent), FilterWheelSettingsRules(device, m_Ctl) {
    WrapStaticTexts(*this);
    OnInitDialog();
    AttachRules(*this);
}

}  // namespace velq3::ui
