// The "Microsteps Table" dialog: shapes the focuser's microstep table in the device object
// (generators, Pow, offset, Inverse or typed values), draws the waveform and the current
// vector, and sends the table to the controller on Apply.
#pragma once

#include <QColor>
#include <QDialog>

#include "ui/DialogTemplate.h"
#include "ui/MicrostepTable.h"

class QCheckBox;
class QLineEdit;
class QPainter;

namespace velq3 {
class OrnFilterWheel;
}

namespace velq3::ui {

class CUpDown;

// Paints the picture (white boxes, waveform, current vector) with a black one-pixel pen; at
// night the boxes are `paper` and the pen `ink`.
void PaintMicrostepPicture(QPainter& painter, const MicrostepPicture& picture, const QColor& paper = Qt::white,
                           const QColor& ink = Qt::black);

class CMicrostepsDlg : public QDialog {
    Q_OBJECT
public:
    // The caller has just read the table (ReadMicrostepTable); the dialog edits the device
    // object's copy in place. Run it with exec(): it always ends Rejected ("Exit", Esc or the
    // close box); only "Apply" sends the table.
    CMicrostepsDlg(OrnFilterWheel& device, QWidget* owner = nullptr);

    QWidget* Control(int id) const;

    // --- command handlers ---
    void GenerateSin();
    void GenerateTan();
    void GenerateSinSin3();
    void MapCurve();        // the stored curve through Pow, offset and Inverse into the table
    void ShowTable();       // the table text from the table, and a repaint
    void ParseTable();      // the table from the text the operator typed
    void ToggleInverse();   // a click on Inverse
    bool OnApply();         // sends the table; the result is not shown

    // The client area the picture fills: below the table text.
    PixelBox DrawingArea() const;

    // --- fields ---
    MicrostepCurve Curve{};
    bool CurveValid = false;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int Length() const;
    MicrostepBytes Table();
    void AfterGenerator(bool generated);

    OrnFilterWheel& m_FW;
    ControlMap m_Controls;
    QLineEdit* m_TableText = nullptr;
    QLineEdit* m_Pow = nullptr;
    QLineEdit* m_Offset = nullptr;
    QCheckBox* m_Inverse = nullptr;
};

}  // namespace velq3::ui
