// The "Temperature Graph" window: the four sensors' history on a black background with a
// dotted grid, value labels, time ticks labelled with clock times and a legend of the sensor
// names (with their newest readings where the operator asks for them), redrawn every five
// seconds.
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "device/TermLog.h"
#include "platform/Clock.h"
#include "ui/GraphReadingsSetting.h"

class QAction;
class QPainter;
class QTimer;

namespace velq3 {
class OrnFilterWheel;
class RegistryHive;
}

namespace velq3::ui {

// Series colours of sensors 0..3: red, yellow, green, cyan.
extern const std::array<QColor, 4> kSeriesColours;

// Draws the graph of `history` into a client area of `size`, black background included. The
// time lines are labelled with `times` (each sample's time) in `clock`'s local time. The legend
// holds the names; with `showReadings` also each sensor's newest reading.
void PaintTermGraph(QPainter& painter, QSize size, const TermHistoryQueue& history,
                    const std::array<std::string, 4>& names, const TermTimeQueue& times,
                    const CalendarClock& clock, bool showReadings = false);

class TermGraph : public QDialog {
    Q_OBJECT
public:
    // Created hidden, owned by `owner` (the main window); its timer runs from creation.
    TermGraph(OrnFilterWheel& fw, QWidget* owner);

    // What the button does: hide when visible, otherwise show (and repaint at once).
    void ToggleVisible();

    // The legend's readings: the "Show Readings" entry of the window's context menu. Off unless
    // the user's settings say otherwise; a change is stored there and repaints the graph.
    bool ShowReadings() const { return m_ShowReadings; }
    void SetShowReadings(bool on);
    static bool StoredShowReadings(const RegistryHive& hive);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnReadingsToggled(bool on);

    OrnFilterWheel& m_FW;
    QTimer* m_Timer;
    QAction* m_ReadingsAction;
    bool m_ShowReadings = false;
};

} // namespace velq3::ui
