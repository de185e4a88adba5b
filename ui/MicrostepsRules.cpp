// The "Microsteps Table" dialog: its handlers over the table in the device object.
#include "ui/MicrostepsRules.h"

#include "device/OrnFilterWheel.h"

namespace velq3::ui {

namespace m = idc::microsteps;

namespace {
constexpr int kPowLower = -50;
constexpr int kPowUpper = 50;
}  // namespace

MicrostepsRules::MicrostepsRules(OrnFilterWheel& device, DialogControls& controls) : m_FW(device), m_Dlg(controls) {}

void MicrostepsRules::OnInitDialog() {
    m_Dlg.SetBuddy(m::kPowSpin, m::kPow, true);  // the arrows write whole numbers into the Pow box
    m_Dlg.SetDefaultButton(m::kApply);
    CurveValid = false;
    ShowTable();
    m_Dlg.SetText(m::kPow, "1.0");
    m_Dlg.SetRange(m::kPowSpin, kPowLower, kPowUpper);
}

void MicrostepsRules::OnCommand(int id, Notify what) {
    switch (id) {
        case m::kApply:
            if (what == Notify::Clicked) OnApply();
            break;
        case m::kSin:
            if (what == Notify::Clicked) GenerateSin();
            break;
        case m::kTan:
            if (what == Notify::Clicked) GenerateTan();
            break;
        case m::kSinSin3:
            if (what == Notify::Clicked) GenerateSinSin3();
            break;
        case m::kInverse:
            if (what == Notify::Clicked) ToggleInverse();
            break;
        case m::kPow:
            if (what == Notify::TextChanged && CurveValid) MapCurve();
            break;
        case m::kTableText:
            // Only the operator's edits are parsed; the text the dialog writes itself is not.
            if (what == Notify::TextEdited) ParseTable();
            break;
        default: break;
    }
}

void MicrostepsRules::OnCancel() { m_Dlg.EndDialog(kIdCancel); }

int MicrostepsRules::Length() const { return TableLength(m_FW.m_MicrostepTableLen); }

MicrostepBytes MicrostepsRules::Table() { return MicrostepBytes(m_FW.m_MicrostepTable); }

void MicrostepsRules::AfterGenerator(bool generated) {
    if (!generated) return;  // no table to shape
    CurveValid = true;
    MapCurve();
}

void MicrostepsRules::GenerateSin() { AfterGenerator(ui::GenerateSin(Curve, Length())); }
void MicrostepsRules::GenerateTan() { AfterGenerator(ui::GenerateTan(Curve, Length())); }
void MicrostepsRules::GenerateSinSin3() { AfterGenerator(ui::GenerateSinSin3(Curve, Length())); }

void MicrostepsRules::MapCurve() {
    CurveMapping mapping;
    mapping.pow = PowFromText(m_Dlg.Text(m::kPow));
    mapping.floor = FloorFromText(m_Dlg.Text(m::kOffset));
    mapping.inverse = m_Dlg.Checked(m::kInverse);
    ui::MapCurve(Curve, Length(), mapping, Table());
    ShowTable();
}

void MicrostepsRules::ShowTable() {
    m_Dlg.SetText(m::kTableText, ui::ShowTable(Table(), Length()));
    m_Dlg.ShowTextStart(m::kTableText);  // the first entries in view
    m_Dlg.Redraw();
}

void MicrostepsRules::ParseTable() {
    CurveValid = false;
    ui::ParseTable(m_Dlg.Text(m::kTableText), Table(), Length());
    m_Dlg.Redraw();
}

void MicrostepsRules::ToggleInverse() {
    if (LooksInverted(Table()) == m_Dlg.Checked(m::kInverse)) return;
    InvertTable(Table(), Length());
    ShowTable();
}

bool MicrostepsRules::OnApply() { return m_FW.WriteMicrostepTable(); }

PixelBox MicrostepsRules::DrawingArea() const {
    const ClientBox text = m_Dlg.ControlBox(m::kTableText);
    const ClientBox client = m_Dlg.ClientArea();
    return {client.left, text.bottom, client.right, client.bottom};
}

MicrostepPicture MicrostepsRules::Picture() { return LayoutMicrosteps(DrawingArea(), Table(), Length()); }

}  // namespace velq3::ui
