// Painting and the window of the temperature graph.
#include "ui/qt/TermGraph.h"

#include <QAction>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/NightPalette.h"
#include "ui/TermGraphLayout.h"
#include "ui/TermGraphTemplate.h"

namespace velq3::ui {
namespace {

constexpr int kShortTick = 10;        // pixels: height of the five-minute ticks
constexpr int kTimeLabelOffset = 2;   // pixels from a time line to its label
constexpr int kLegendGap = 6;         // pixels between a legend name and its reading

} // namespace

const std::array<QColor, 4> kSeriesColours = {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 255, 0),
                                              QColor(0, 255, 255)};

void PaintTermGraph(QPainter& painter, QSize size, const TermHistoryQueue& history,
                    const std::array<std::string, 4>& names, const TermTimeQueue& times,
                    const CalendarClock& clock, bool showReadings) {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    const GraphBox p = PlotBox(size.width(), size.height());
    const QFontMetrics metrics = painter.fontMetrics();
    const TermTimeAxis axis{&times, &clock, kTimeLabelOffset + metrics.horizontalAdvance(QStringLiteral("00:00"))};
    const TermGraphLayout g = ComputeTermGraphLayout(history, p, axis);
    const int lineHeight = metrics.height();

    // Legend rows in the top right corner, one below the other: a row for each name drawn, its
    // right end at the box's right edge. With the readings shown, each row also holds the
    // sensor's newest reading in a column of its own at the right edge, and a sensor with a
    // reading takes a row even without a name.
    int valueWidth = 0;
    if (showReadings)
        for (const auto& value : g.latest)
            if (value) valueWidth = std::max(valueWidth, metrics.horizontalAdvance(QString::fromStdString(*value)));
    const int nameRight = p.right - (valueWidth > 0 ? valueWidth + kLegendGap : 0);
    std::array<int, 4> rowTop{};
    std::vector<QRect> taken;  // text already placed: the time labels keep clear of it
    int legendY = p.top;
    for (size_t j = 0; j < 4; ++j) {
        rowTop[j] = legendY;
        const QString name = QString::fromStdString(names[j]);
        const bool reading = showReadings && g.latest[j];
        if (name.isEmpty() && !reading) continue;
        const int left = name.isEmpty() ? nameRight : nameRight - metrics.horizontalAdvance(name);
        taken.emplace_back(QPoint(left, legendY), QPoint(reading ? p.right : nameRight, legendY + lineHeight - 1));
        legendY += lineHeight;
    }

    painter.setPen(QPen(QColor(128, 128, 128), 1, Qt::DotLine));
    for (const GraphGridLine& line : g.grid) {
        if (line.label) {
            // On its line, or just below it where the text would rise above the box.
            const int baseline = std::max(line.y, p.top + metrics.ascent());
            const QString label = QString::fromStdString(*line.label);
            painter.save();
            painter.setPen(Qt::white);
            painter.drawText(QPoint(p.left, baseline), label);
            painter.restore();
            taken.emplace_back(p.left, baseline - metrics.ascent(), metrics.horizontalAdvance(label), lineHeight);
            painter.drawLine(p.left, line.y, p.right, line.y);
        } else {
            painter.drawLine(p.left, line.y, std::min(p.left + 5, p.right), line.y);
        }
    }
    for (const GraphTimeTick& tick : g.timeTicks) {
        painter.drawLine(tick.x, p.bottom, tick.x, tick.fullHeight ? p.top : p.bottom - kShortTick);
        if (!tick.label) continue;
        // Right of its line, just above the short ticks, unless it would cover other text.
        const QString label = QString::fromStdString(*tick.label);
        const QRect box(tick.x + kTimeLabelOffset, p.bottom - kShortTick - 1 - lineHeight,
                        metrics.horizontalAdvance(label), lineHeight);
        if (box.top() < p.top ||
            std::any_of(taken.begin(), taken.end(), [&](const QRect& r) { return r.intersects(box); }))
            continue;
        painter.save();
        painter.setPen(Qt::white);
        painter.drawText(QPoint(box.left(), box.top() + metrics.ascent()), label);
        painter.restore();
    }

    for (size_t j = 0; j < 4; ++j) {
        painter.setPen(kSeriesColours[j]);
        const QString name = QString::fromStdString(names[j]);
        painter.drawText(QPoint(nameRight - metrics.horizontalAdvance(name), rowTop[j] + metrics.ascent()), name);
        if (showReadings && g.latest[j]) {
            const QString value = QString::fromStdString(*g.latest[j]);
            painter.drawText(QPoint(p.right - metrics.horizontalAdvance(value), rowTop[j] + metrics.ascent()), value);
        }

        QPainterPath path;
        for (const GraphPoint& pt : g.series[j]) {
            if (pt.joined) path.lineTo(pt.x, pt.y);
            else path.moveTo(pt.x, pt.y);
        }
        painter.setPen(QPen(kSeriesColours[j], 1, Qt::SolidLine));
        painter.drawPath(path);
    }
}

TermGraph::TermGraph(OrnFilterWheel& fw, QWidget* owner)
    : QDialog(owner), m_FW(fw), m_Timer(new QTimer(this)), m_ReadingsAction(new QAction(QStringLiteral("Show Readings"), this)) {
    BuildDialog(*this, kTermGraphTemplate);
    // A sizable frame: the template gives the first size only.
    const QSize first = size();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(first);
    setSizeGripEnabled(true);
    setModal(false);

    if (const RegistryHive* hive = m_FW.UserHive()) m_ShowReadings = StoredShowReadings(*hive);
    m_ReadingsAction->setObjectName(QStringLiteral("graphReadings"));
    m_ReadingsAction->setCheckable(true);
    m_ReadingsAction->setChecked(m_ShowReadings);
    connect(m_ReadingsAction, &QAction::toggled, this, &TermGraph::OnReadingsToggled);
    addAction(m_ReadingsAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(m_Timer, &QTimer::timeout, this, [this] { update(); });
    m_Timer->start(kTermGraphRedrawMs);
}

bool TermGraph::StoredShowReadings(const RegistryHive& hive) {
    return LoadGraphReadings(hive);
}

void TermGraph::SetShowReadings(bool on) { m_ReadingsAction->setChecked(on); }

void TermGraph::OnReadingsToggled(bool on) {
    m_ShowReadings = on;
    if (RegistryHive* hive = m_FW.UserHive()) SaveGraphReadings(*hive, on);
    update();
}

void TermGraph::ToggleVisible() {
    if (isVisible()) {
        hide();
    } else {
        show();
        update();
    }
}

void TermGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const auto paint = [this](QPainter& on) {
        PaintTermGraph(on, size(), m_FW.TermHistory, m_FW.TermometerName, m_FW.TermHistoryTimes,
                       m_FW.CalendarTime(), m_ShowReadings);
    };
    if (!IsNightPalette(palette())) {
        paint(painter);
        return;
    }
    // At night the same picture, every colour turned to a red of its lightness.
    const qreal ratio = devicePixelRatioF();
    QImage day(size() * ratio, QImage::Format_RGB32);
    day.setDevicePixelRatio(ratio);
    {
        QPainter dayPainter(&day);
        dayPainter.setFont(painter.font());
        paint(dayPainter);
    }
    painter.drawImage(0, 0, NightImage(day));
}

} // namespace velq3::ui
