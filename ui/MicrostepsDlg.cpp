// The "Microsteps Table" dialog: its controls, handlers and painting.
#include "ui/MicrostepsDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "device/OrnFilterWheel.h"
#include "ui/DataExchange.h"
#include "ui/MicrostepsTemplate.h"
#include "ui/NightPalette.h"
#include "ui/UpDown.h"

namespace velq3::ui {

namespace m = idc::microsteps;

namespace {

constexpr int kPowLower = -50;
constexpr int kPowUpper = 50;

QRect ToRect(const PixelBox& b) { return QRect(QPoint(b.left, b.top), QPoint(b.right - 1, b.bottom - 1)); }

}  // namespace

void PaintMicrostepPicture(QPainter& painter, const MicrostepPicture& picture, const QColor& paper, const QColor& ink) {
    painter.save();
    painter.fillRect(ToRect(picture.vectorBox), paper);
    painter.fillRect(ToRect(picture.curveBox), paper);
    painter.setPen(QPen(ink, 1));
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (size_t i = 1; i < picture.curve.size(); ++i) {
        const PixelPoint& a = picture.curve[i - 1];
        const PixelPoint& b = picture.curve[i];
        painter.drawLine(a.x, a.y, b.x, b.y);
    }
    const PixelPoint& c = picture.centre;
    for (size_t k = 0; k + 1 < picture.vector.size(); ++k) {
        const PixelPoint& p = picture.vector[k];
        const PixelPoint& q = picture.vector[k + 1];
        painter.drawLine(c.x, c.y, p.x, p.y);
        painter.drawLine(p.x, p.y, q.x, q.y);
    }
    painter.restore();
}

CMicrostepsDlg::CMicrostepsDlg(OrnFilterWheel& device, QWidget* owner) : QDialog(owner), m_FW(device) {
    m_Controls = BuildDialog(*this, kMicrostepsTemplate);
    m_TableText = qobject_cast<QLineEdit*>(Control(m::kTableText));
    m_Pow = qobject_cast<QLineEdit*>(Control(m::kPow));
    m_Offset = qobject_cast<QLineEdit*>(Control(m::kOffset));
    m_Inverse = qobject_cast<QCheckBox*>(Control(m::kInverse));
    auto* spin = dynamic_cast<CUpDown*>(Control(m::kPowSpin));
    spin->SetBuddy(m_Pow, true);  // the arrows write whole numbers into the Pow box

    auto* apply = qobject_cast<QPushButton*>(Control(m::kApply));
    apply->setDefault(true);
    connect(apply, &QPushButton::clicked, this, [this] { OnApply(); });
    connect(qobject_cast<QPushButton*>(Control(m::kSin)), &QPushButton::clicked, this, [this] { GenerateSin(); });
    connect(qobject_cast<QPushButton*>(Control(m::kTan)), &QPushButton::clicked, this, [this] { GenerateTan(); });
    connect(qobject_cast<QPushButton*>(Control(m::kSinSin3)), &QPushButton::clicked, this, [this] { GenerateSinSin3(); });
    connect(m_Inverse, &QCheckBox::clicked, this, [this] { ToggleInverse(); });
    connect(m_Pow, &QLineEdit::textChanged, this, [this] {
        if (CurveValid) MapCurve();
    });
    // Only the operator's edits are parsed; the text the dialog writes itself is not.
    connect(m_TableText, &QLineEdit::textEdited, this, [this] { ParseTable(); });

    CurveValid = false;
    ShowTable();
    m_Pow->setText(QStringLiteral("1.0"));
    spin->SetRange(kPowLower, kPowUpper);
}

QWidget* CMicrostepsDlg::Control(int id) const { return ControlById<QWidget>(m_Controls, id); }

int CMicrostepsDlg::Length() const { return TableLength(m_FW.m_MicrostepTableLen); }

MicrostepBytes CMicrostepsDlg::Table() { return MicrostepBytes(m_FW.m_MicrostepTable); }

void CMicrostepsDlg::AfterGenerator(bool generated) {
    if (!generated) return;  // no table to shape
    CurveValid = true;
    MapCurve();
}

void CMicrostepsDlg::GenerateSin() { AfterGenerator(ui::GenerateSin(Curve, Length())); }
void CMicrostepsDlg::GenerateTan() { AfterGenerator(ui::GenerateTan(Curve, Length())); }
void CMicrostepsDlg::GenerateSinSin3() { AfterGenerator(ui::GenerateSinSin3(Curve, Length())); }

void CMicrostepsDlg::MapCurve() {
    CurveMapping mapping;
    mapping.pow = PowFromText(m_Pow->text().toStdString());
    mapping.floor = FloorFromText(m_Offset->text().toStdString());
    mapping.inverse = m_Inverse->isChecked();
    ui::MapCurve(Curve, Length(), mapping, Table());
    ShowTable();
}

void CMicrostepsDlg::ShowTable() {
    m_TableText->setText(QString::fromStdString(ui::ShowTable(Table(), Length())));
    m_TableText->setCursorPosition(0);  // the first entries in view
    update();
}

void CMicrostepsDlg::ParseTable() {
    CurveValid = false;
    ui::ParseTable(m_TableText->text().toStdString(), Table(), Length());
    update();
}

void CMicrostepsDlg::ToggleInverse() {
    if (LooksInverted(Table()) == m_Inverse->isChecked()) return;
    InvertTable(Table(), Length());
    ShowTable();
}

bool CMicrostepsDlg::OnApply() { return m_FW.WriteMicrostepTable(); }

PixelBox CMicrostepsDlg::DrawingArea() const {
    const QRect text = m_TableText->geometry();
    return {0, text.y() + text.height(), width(), height()};
}

void CMicrostepsDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    const MicrostepPicture picture = LayoutMicrosteps(DrawingArea(), Table(), Length());
    if (IsNightPalette(palette()))
        PaintMicrostepPicture(painter, picture, palette().color(QPalette::Base), palette().color(QPalette::Text));
    else
        PaintMicrostepPicture(painter, picture);
}

}  // namespace velq3::ui
