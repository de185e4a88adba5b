// The "Temperature Graph" window: the four sensors' history on a black background with a
// dotted grid, value labels, time ticks labelled with clock times and a legend of names and
// latest readings, redrawn every five seconds.
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "device/TermLog.h"
#include "platform/Clock.h"

class QPainter;
class QTimer;

namespace velq3 {
class OrnFilterWheel;
}

namespace velq3::ui {

// Series colours of sensors 0..3: red, yellow, green, cyan.
extern const std::array<QColor, 4> kSeriesColours;

// Draws the graph of `history` into a client area of `size`, black background included. The
// time lines are labelled with `times` (each sample's time) in `clock`'s local time.
void PaintTermGraph(QPainter& painter, QSize size, const TermHistoryQueue& history,
                    const std::array<std::string, 4>& names, const TermTimeQueue& times,
                    const CalendarClock& clock);

class TermGraph : public QDialog {
    Q_OBJECT
public:
    // Created hidden, owned by `owner` (the main window); its timer runs from creation.
    TermGraph(OrnFilterWheel& fw, QWidget* owner);

    // What the button does: hide when visible, otherwise show (and repaint at once).
    void ToggleVisible();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OrnFilterWheel& m_FW;
    QTimer* m_Timer;
};

} // namespace velq3::ui
