// The filter wheel settings dialog in Qt: template 203 built as widgets over its rules.
#pragma once

#include "ui/FilterWheelSettingsRules.h"
#include "ui/qt/QtDialog.h"

namespace velq3::ui {

class CFilterWheelSettingsDlg : public QtRulesDialog, public FilterWheelSettingsRules {
    Q_OBJECT
public:
    // Opens on `device` (see FilterWheelSettingsRules::OnInitDialog). Run it with exec(); OK
    // leaves result() Accepted.
    explicit CFilterWheelSettingsDlg(OrnFilterWheel& device, QWidget* parent = nullptr);
};

}  // namespace velq3::ui
