// The "Microsteps Table" dialog in Qt: its painting.
#include "ui/qt/MicrostepsDlg.h"

#include <QPainter>

#include "ui/qt/NightPalette.h"

namespace velq3::ui {

namespace {

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

CMicrostepsDlg::CMicrostepsDlg(OrnFilterWheel& device, QWidget* owner)
    : QtRulesDialog(kMicrostepsTemplate, owner), MicrostepsRules(device, m_Ctl) {
    OnInitDialog();
    AttachRules(*this);
}

void CMicrostepsDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    const MicrostepPicture picture = Picture();
    if (IsNightPalette(palette()))
        PaintMicrostepPicture(painter, picture, palette().color(QPalette::Base), palette().color(QPalette::Text));
    else
        PaintMicrostepPicture(painter, picture);
}

}  // namespace velq3::ui
