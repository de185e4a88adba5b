// Painting and the window of the temperature graph.
#include "ui/TermGraph.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include "device/OrnFilterWheel.h"
#include "ui/DialogTemplate.h"
#include "ui/NightPalette.h"
#include "ui/TermGraphLayout.h"

namespace velq3::ui {
namespace {

constexpr int kRedrawMs = 5000;
constexpr int kTermGraphTemplateId = 206;

const DialogTemplate kTermGraphTemplate = {kTermGraphTemplateId, "Temperature Graph", 8, "MS Sans Serif", 316, 185, {}};

} // namespace

const std::array<QColor, 4> kSeriesColours = {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 255, 0),
                                              QColor(0, 255, 255)};

void PaintTermGraph(QPainter& painter, QSize size, const TermHistoryQueue& history,
                    const std::array<std::string, 4>& names) {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    const GraphBox p = PlotBox(size.width(), size.height());
    const TermGraphLayout g = ComputeTermGraphLayout(history, p);
    const QFontMetrics metrics = painter.fontMetrics();

    painter.setPen(QPen(QColor(128, 128, 128), 1, Qt::DotLine));
    for (const GraphGridLine& line : g.grid) {
        if (line.label) {
            painter.save();
            painter.setPen(Qt::white);
            painter.drawText(QPoint(p.left, line.y), QString::fromStdString(*line.label));
            painter.restore();
            painter.drawLine(p.left, line.y, p.right, line.y);
        } else {
            painter.drawLine(p.left, line.y, std::min(p.left + 5, p.right), line.y);
        }
    }
    for (const GraphTimeTick& tick : g.timeTicks)
        painter.drawLine(tick.x, p.bottom, tick.x, tick.fullHeight ? p.top : p.bottom - 10);

    int legendY = p.top;
    for (int j = 0; j < 4; ++j) {
        painter.setPen(kSeriesColours[static_cast<size_t>(j)]);
        const QString name = QString::fromStdString(names[static_cast<size_t>(j)]);
        // Right end at the box's right edge, top at legendY.
        const QRect text = metrics.boundingRect(name);
        painter.drawText(QPoint(p.right - metrics.horizontalAdvance(name), legendY + metrics.ascent()), name);
        legendY += name.isEmpty() ? 0 : text.height();

        QPainterPath path;
        for (const GraphPoint& pt : g.series[j]) {
            if (pt.joined) path.lineTo(pt.x, pt.y);
            else path.moveTo(pt.x, pt.y);
        }
        painter.setPen(QPen(kSeriesColours[static_cast<size_t>(j)], 1, Qt::SolidLine));
        painter.drawPath(path);
    }
}

TermGraph::TermGraph(OrnFilterWheel& fw, QWidget* owner) : QDialog(owner), m_FW(fw), m_Timer(new QTimer(this)) {
    BuildDialog(*this, kTermGraphTemplate);
    // A sizable frame: the template gives the first size only.
    const QSize first = size();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(first);
    setSizeGripEnabled(true);
    setModal(false);
    connect(m_Timer, &QTimer::timeout, this, [this] { update(); });
    m_Timer->start(kRedrawMs);
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
    if (IsNightPalette(palette())) {
        // At night the same picture, every colour turned to a red of its lightness.
        const qreal ratio = devicePixelRatioF();
        QImage day(size() * ratio, QImage::Format_RGB32);
        day.setDevicePixelRatio(ratio);
        {
            QPainter dayPainter(&day);
            dayPainter.setFont(painter.font());
            PaintTermGraph(dayPainter, size(), m_FW.TermHistory, m_FW.TermometerName);
        }
        painter.drawImage(0, 0, NightImage(day));
        return;
    }
    PaintTermGraph(painter, size(), m_FW.TermHistory, m_FW.TermometerName);
}

} // namespace velq3::ui
