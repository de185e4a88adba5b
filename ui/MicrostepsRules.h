// The "Microsteps Table" dialog's rules: shapes the focuser's microstep table in the device
// object (generators, Pow, offset, Inverse or typed values) and sends the table to the
// controller on Apply; the toolkit layer draws the picture they lay out.
#pragma once

#include "ui/DialogControls.h"
#include "ui/MicrostepTable.h"
#include "ui/MicrostepsTemplate.h"

namespace velq3 {
class OrnFilterWheel;
}

namespace velq3::ui {

class MicrostepsRules : public DialogRules {
public:
    // The caller has just read the table (ReadMicrostepTable); the dialog edits the device
    // object's copy in place. It always ends with kIdCancel ("Exit", Esc or the close box);
    // only "Apply" sends the table.
    MicrostepsRules(OrnFilterWheel& device, DialogControls& controls);

    void OnInitDialog();

    // --- command handlers ---
    void GenerateSin();
    void GenerateTan();
    void GenerateSinSin3();
    void MapCurve();        // the stored curve through Pow, offset and Inverse into the table
    void ShowTable();       // the table text from the table, and a repaint
    void ParseTable();      // the table from the text the operator typed
    void ToggleInverse();   // a click on Inverse
    bool OnApply();         // sends the table; the result is not shown

    void OnCommand(int id, Notify what) override;
    void OnCancel() override;

    // The client area the picture fills: below the table text.
    PixelBox DrawingArea() const;
    // The picture of the table in the drawing area.
    MicrostepPicture Picture();

    // --- fields ---
    MicrostepCurve Curve{};
    bool CurveValid = false;

private:
    int Length() const;
    MicrostepBytes Table();
    void AfterGenerator(bool generated);

    OrnFilterWheel& m_FW;
    DialogControls& m_Dlg;
};

}  // namespace velq3::ui
