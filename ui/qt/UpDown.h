// A small pair of arrow buttons that proposes a change of +1 or -1 per click, like the
// platform's up-down control; it can keep the integer in a buddy edit box.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

namespace velq3::ui {

class CUpDown : public QWidget {
    Q_OBJECT
public:
    explicit CUpDown(QWidget* parent = nullptr);

    // The default range runs from 100 down to 0, so the up arrow proposes -1; with a rising
    // range (lower < upper) it proposes +1.
    void SetRange(int lower, int upper);
    int Lower() const { return m_Lower; }
    int Upper() const { return m_Upper; }

    // `setBuddyInt`: each step reads the buddy's integer, applies the change within the range
    // and writes the result back.
    void SetBuddy(QLineEdit* buddy, bool setBuddyInt);
    QLineEdit* Buddy() const { return m_Buddy; }

    // Up and Down pressed in the buddy work the arrows.
    void SetArrowKeys(bool on) { m_ArrowKeys = on; }

    // One step as a click on the up (true) or down (false) arrow does.
    void Step(bool up);

    QSize sizeHint() const override;

signals:
    // The proposed change of position, sent before the step is applied.
    void DeltaPos(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_Lower = 100;
    int m_Upper = 0;
    int m_Pos = 0;
    QPointer<QLineEdit> m_Buddy;
    const QObject* m_BuddyObject = nullptr;  // compared only, never used
    bool m_SetBuddyInt = false;
    bool m_ArrowKeys = false;
    int m_Pressed = 0;  // 1 up, -1 down, 0 none: drawn sunken
};

}  // namespace velq3::ui
