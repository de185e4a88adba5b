// Geometry of the temperature graph: value range, grid, time ticks with their clock labels,
// series points and the legend's latest readings, computed from the sample history and the
// plot box (no drawing here).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/TermLog.h"
#include "platform/Clock.h"

namespace velq3::ui {

struct GraphBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct GraphGridLine {
    int y = 0;
    std::optional<std::string> label;  // a labelled full line; otherwise a short tick
};

struct GraphTimeTick {
    int x = 0;
    bool fullHeight = false;  // every hour (720 samples)
    std::optional<std::string> label;  // "HH:MM": local clock time of the sample at this line
};

// What the time labels need. Without times, or with times not index for index beside the
// history (a different count), the ticks stay unlabelled.
struct TermTimeAxis {
    const TermTimeQueue* times = nullptr;  // each sample's time, seconds since the epoch
    const CalendarClock* clock = nullptr;  // turns them into local time
    int labelWidth = 0;                    // pixels from a line to the end of its label
};

// Time labels stand at least this many pixels apart, beyond the label's own width.
constexpr int kTimeLabelGap = 6;

struct GraphPoint {
    int x = 0, y = 0;
    bool joined = false;  // drawn to from the previous point
};

struct TermGraphLayout {
    double lo = 0, hi = 0, range = 0;  // value range in degrees
    double step = 0, labelStep = 0;    // grid and label spacing
    std::vector<GraphGridLine> grid;
    std::vector<GraphTimeTick> timeTicks;
    int labelEvery = 0;  // samples from one time label to the next; 0: no labels
    std::vector<GraphPoint> series[4];
    std::optional<std::string> latest[4];  // each sensor's reading in the newest sample, "%.2f"
};

// The plot box inside a client area of the given size.
GraphBox PlotBox(int width, int height);

// Time labels go on every labelEvery-th sample of the ticks, labelEvery being the first of
// 5, 10, 15, 30 minutes, 1, 2, 3, 6 or 12 hours (in samples of 5 s) whose labels keep
// axis.labelWidth + kTimeLabelGap apart; a label that would pass the box's right edge, or whose
// time has no local time, is left out.
TermGraphLayout ComputeTermGraphLayout(const velq3::TermHistoryQueue& history, const GraphBox& box,
                                       const TermTimeAxis& axis = {});

} // namespace velq3::ui
