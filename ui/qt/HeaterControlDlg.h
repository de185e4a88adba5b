// The "Heater Control" dialog in Qt: template 232 built as widgets over its rules.
#pragma once

#include "ui/HeaterControlRules.h"
#include "ui/qt/QtDialog.h"

namespace velq3::ui {

class CHeaterControlDlg : public QtRulesDialog, public HeaterControlRules {
    Q_OBJECT
public:
    // Decodes the image into the fields and builds the window (not shown). The owner runs it
    // with exec(): Accepted after OK wrote the image, Rejected after Cancel, Esc or the close
    // box, which leave the image as it was when the dialog opened.
    CHeaterControlDlg(OrnFilterWheel& device, QWidget* owner = nullptr);
};

}  // namespace velq3::ui
