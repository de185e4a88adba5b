// The "Microsteps Table" dialog in Qt: template 231 built as widgets over its rules, and the
// painting of the waveform and the current vector.
#pragma once

#include <QColor>

#include "ui/MicrostepsRules.h"
#include "ui/qt/QtDialog.h"

class QPainter;

namespace velq3::ui {

// Paints the picture (white boxes, waveform, current vector) with a black one-pixel pen; at
// night the boxes are `paper` and the pen `ink`.
void PaintMicrostepPicture(QPainter& painter, const MicrostepPicture& picture, const QColor& paper = Qt::white,
                           const QColor& ink = Qt::black);

class CMicrostepsDlg : public QtRulesDialog, public MicrostepsRules {
    Q_OBJECT
public:
    // Run it with exec(): it always ends Rejected; see MicrostepsRules.
    CMicrostepsDlg(OrnFilterWheel& device, QWidget* owner = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velq3::ui
