// The graph's range, grid, time label and series rules.
#include "ui/TermGraphLayout.h"

#include <cmath>
#include <cstdio>

namespace velq3::ui {
namespace {

constexpr double kNoValueBelow = -1e10;  // samples carry -1e30 for "no reading"
constexpr int kTickEvery = 60;           // samples: five minutes at one sample per 5 s
constexpr int kFullLineEvery = 720;      // samples: one hour
// Spacings of the time labels in samples: 5, 10, 15, 30 minutes, 1, 2, 3, 6, 12 hours. Each is
// a multiple of the tick spacing, and from an hour on a multiple of the full lines.
constexpr int kLabelSpacings[] = {60, 120, 180, 360, 720, 1440, 2160, 4320, 8640};

std::string FormatValue(const char* format, double v) {
    char text[64];  // room for any float in "%.2f"
    std::snprintf(text, sizeof text, format, v);
    // A minus sign before nothing but zeros comes out of rounding a value next to zero.
    std::string s = text;
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

std::string FormatLabel(double v) { return FormatValue("%.1f", v); }

// The first spacing whose labels keep `needed` pixels apart; 0 when none does.
int LabelSpacing(int width, int d, int needed) {
    for (int every : kLabelSpacings)
        if (static_cast<long>(width) * every >= static_cast<long>(needed) * d) return every;
    return 0;
}

std::optional<std::string> ClockLabel(const CalendarClock& clock, std::time_t t) {
    const std::tm local = clock.ToLocal(t);
    if (local.tm_mday < 1) return std::nullopt;  // the conversion failed
    char text[16];
    std::snprintf(text, sizeof text, "%02i:%02i", local.tm_hour, local.tm_min);
    return text;
}

} // namespace

GraphBox PlotBox(int width, int height) { return {10, 5, width - 10, height - 5}; }

TermGraphLayout ComputeTermGraphLayout(const TermHistoryQueue& history, const GraphBox& p,
                                       const TermTimeAxis& axis) {
    TermGraphLayout g;
    double lo = 1e30, hi = -1e30;
    for (const TermSample& s : history)
        for (float t : s.T)
            if (t > kNoValueBelow) {
                lo = std::min(lo, static_cast<double>(t));
                hi = std::max(hi, static_cast<double>(t));
            }
    if (hi - lo < 1.0) {
        double c = (hi + lo) / 2;
        lo = c - 0.5;
        hi = c + 0.5;
    }
    g.lo = lo;
    g.hi = hi;
    g.range = hi - lo;
    g.step = 0.1;
    g.labelStep = 0.5;
    if (g.range > 4) {
        g.step = 0.2;
        g.labelStep = 1.0;
    }
    if (g.range > 10) {
        g.step = 0.5;
        g.labelStep = 2.0;
    }

    const double height = p.bottom - p.top;
    const double end = (std::floor(hi / g.step) + 0.5) * g.step;
    // Counting steps rather than adding them keeps the values free of accumulated error.
    for (long i = static_cast<long>(std::ceil(lo / g.step));; ++i) {
        double t = static_cast<double>(i) * g.step;
        if (t > end) break;
        GraphGridLine line;
        line.y = static_cast<int>(p.bottom - (t - lo) * height / g.range);
        double v = std::floor(t / g.labelStep + 0.5) * g.labelStep;
        if (std::fabs(v - t) < g.step / 2) line.label = FormatLabel(v);
        g.grid.push_back(line);
    }

    const int n = static_cast<int>(history.size());
    const int d = n > 100 ? n : 100;
    const int width = p.right - p.left;
    const bool timed = axis.times && axis.clock && axis.times->size() == history.size();
    if (timed && width > 0) g.labelEvery = LabelSpacing(width, d, axis.labelWidth + kTimeLabelGap);
    for (int k = 0; k < n; k += kTickEvery) {
        GraphTimeTick tick{p.left + width * k / d, k != 0 && k % kFullLineEvery == 0, std::nullopt};
        if (g.labelEvery != 0 && k % g.labelEvery == 0 && tick.x + axis.labelWidth <= p.right)
            tick.label = ClockLabel(*axis.clock, (*axis.times)[static_cast<size_t>(k)]);
        g.timeTicks.push_back(std::move(tick));
    }

    for (int j = 0; j < 4; ++j) {
        std::vector<GraphPoint>& points = g.series[j];
        points.reserve(static_cast<size_t>(n));
        bool previous = false;
        for (int k = 0; k < n; ++k) {
            const float t = history[static_cast<size_t>(k)].T[j];
            GraphPoint pt{p.left + width * k / d, p.bottom, false};
            const bool has = t > kNoValueBelow;
            if (has) {
                pt.y = p.bottom - static_cast<int>((t - lo) * height / g.range);
                pt.joined = previous;
            }
            previous = has;
            points.push_back(pt);
        }
        if (n > 0 && history.back().T[j] > kNoValueBelow)
            g.latest[j] = FormatValue("%.2f", static_cast<double>(history.back().T[j]));
    }
    return g;
}

} // namespace velq3::ui
