// The arrow-pair control: painting, clicks, arrow keys in the buddy and the buddy's integer.
#include "ui/qt/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

#include "ui/NumberText.h"

namespace velq3::ui {

CUpDown::CUpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CUpDown::SetRange(int lower, int upper) {
    m_Lower = lower;
    m_Upper = upper;
    m_Pos = std::clamp(m_Pos, std::min(lower, upper), std::max(lower, upper));
}

void CUpDown::SetBuddy(QLineEdit* buddy, bool setBuddyInt) {
    if (m_Buddy) m_Buddy->removeEventFilter(this);
    m_Buddy = buddy;
    m_BuddyObject = buddy;
    m_SetBuddyInt = setBuddyInt;
    if (m_Buddy) m_Buddy->installEventFilter(this);
}

void CUpDown::Step(bool up) {
    const int delta = (up == (m_Upper >= m_Lower)) ? 1 : -1;
    emit DeltaPos(delta);
    if (m_SetBuddyInt && m_Buddy) {
        const std::string text = m_Buddy->text().toStdString();
        if (auto v = LeadingInteger(text)) m_Pos = static_cast<int>(std::clamp<std::int64_t>(*v, INT32_MIN, INT32_MAX));
    }
    const long long next = static_cast<long long>(m_Pos) + delta;
    m_Pos = static_cast<int>(std::clamp<long long>(next, std::min(m_Lower, m_Upper), std::max(m_Lower, m_Upper)));
    if (m_SetBuddyInt && m_Buddy) m_Buddy->setText(QString::number(m_Pos));
}

QSize CUpDown::sizeHint() const { return {16, 22}; }

void CUpDown::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        const bool sunken = m_Pressed == (i == 0 ? 1 : -1);
        button.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &p, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(2, 1, -2, -1);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow, &p, this);
    }
}

void CUpDown::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) return;
    const bool up = event->position().y() < height() / 2.0;
    m_Pressed = up ? 1 : -1;
    update();
    Step(up);
}

void CUpDown::mouseReleaseEvent(QMouseEvent*) {
    m_Pressed = 0;
    update();
}

bool CUpDown::eventFilter(QObject* watched, QEvent* event) {
    // The identity test uses the plain object: a buddy being destroyed is no longer a QLineEdit.
    if (event->type() == QEvent::KeyPress && watched == m_BuddyObject && m_ArrowKeys && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velq3::ui
