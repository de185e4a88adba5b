// The "Heater Control" dialog in Qt.
#include "ui/qt/HeaterControlDlg.h"

namespace velq3::ui {

CHeaterControlDlg::CHeaterControlDlg(OrnFilterWheel& device, QWidget* owner)
    : QtRulesDialog(kHeaterControlTemplate, owner), HeaterControlRules(device, m_Ctl) {
    WrapStaticTexts(*this);
    OnInitDialog();
    AttachRules(*this);
}

}  // namespace velq3::ui
