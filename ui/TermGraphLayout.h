// Geometry of the temperature graph: value range, grid, time ticks and series points,
// computed from the sample history and the plot box (no drawing here).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/TermLog.h"

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
};

struct GraphPoint {
    int x = 0, y = 0;
    bool joined = false;  // drawn to from the previous point
};

struct TermGraphLayout {
    double lo = 0, hi = 0, range = 0;  // value range in degrees
    double step = 0, labelStep = 0;    // grid and label spacing
    std::vector<GraphGridLine> grid;
    std::vector<GraphTimeTick> timeTicks;
    std::vector<GraphPoint> series[4];
};

// The plot box inside a client area of the given size.
GraphBox PlotBox(int width, int height);

TermGraphLayout ComputeTermGraphLayout(const velq3::TermHistoryQueue& history, const GraphBox& box);

} // namespace velq3::ui
