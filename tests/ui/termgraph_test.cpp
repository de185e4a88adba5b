// The temperature graph: value range, grid and label spacing, time ticks and their clock
// labels, series with gaps, the legend with and without its readings, and the picture painted
// into an image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "ui/qt/TermGraph.h"
#include "ui/TermGraphLayout.h"

namespace velq3::test {
namespace {

using namespace velq3::ui;

TermHistoryQueue History(int n, float t0, float t1 = kNoSample, float t2 = kNoSample, float t3 = kNoSample) {
    TermHistoryQueue h;
    for (int i = 0; i < n; ++i) h.push_back({{t0, t1, t2, t3}, i});
    return h;
}

std::vector<std::string> Labels(const TermGraphLayout& g) {
    std::vector<std::string> out;
    for (const auto& line : g.grid)
        if (line.label) out.push_back(*line.label);
    return out;
}

const GraphBox kBox = PlotBox(620, 305);  // 600 x 295 plot box

TEST(TermGraphLayoutTest, EmptyHistorySpansOneDegreeAroundZero) {
    TermGraphLayout g = ComputeTermGraphLayout({}, kBox);
    EXPECT_DOUBLE_EQ(g.lo, -0.5);
    EXPECT_DOUBLE_EQ(g.hi, 0.5);
    EXPECT_EQ(Labels(g), std::vector<std::string>({"-0.5", "0.0", "0.5"}));
    EXPECT_EQ(g.grid.size(), 11u);  // ticks every 0.1 between the labels
    EXPECT_EQ(g.grid.front().y, kBox.bottom);
    EXPECT_EQ(g.grid.back().y, kBox.top);
    EXPECT_TRUE(g.timeTicks.empty());
    for (const auto& s : g.series) EXPECT_TRUE(s.empty());
}

TEST(TermGraphLayoutTest, RangeAndSpacingFollowTheReadings) {
    TermGraphLayout flat = ComputeTermGraphLayout(History(10, 20.0f), kBox);
    EXPECT_DOUBLE_EQ(flat.lo, 19.5);
    EXPECT_DOUBLE_EQ(flat.hi, 20.5);

    TermHistoryQueue h = History(5, 10.0f);
    h.push_back({{14.5f, kNoSample, kNoSample, kNoSample}, 0});
    TermGraphLayout mid = ComputeTermGraphLayout(h, kBox);
    EXPECT_DOUBLE_EQ(mid.range, 4.5);
    EXPECT_DOUBLE_EQ(mid.step, 0.2);
    EXPECT_DOUBLE_EQ(mid.labelStep, 1.0);
    EXPECT_EQ(Labels(mid), std::vector<std::string>({"10.0", "11.0", "12.0", "13.0", "14.0"}));

    h.push_back({{kNoSample, -2.0f, kNoSample, kNoSample}, 0});  // another sensor widens it to 16.5
    TermGraphLayout wide = ComputeTermGraphLayout(h, kBox);
    EXPECT_DOUBLE_EQ(wide.step, 0.5);
    EXPECT_DOUBLE_EQ(wide.labelStep, 2.0);
    EXPECT_EQ(Labels(wide).front(), "-2.0");

    TermHistoryQueue twelve = History(2, 0.0f);
    twelve.push_back({{12.0f, kNoSample, kNoSample, kNoSample}, 0});
    EXPECT_DOUBLE_EQ(ComputeTermGraphLayout(twelve, kBox).step, 0.5);
}

TEST(TermGraphLayoutTest, TimeTicksAndSeriesWidth) {
    TermGraphLayout g = ComputeTermGraphLayout(History(1000, 5.0f), kBox);
    ASSERT_EQ(g.timeTicks.size(), 17u);  // 0, 60, ..., 960
    EXPECT_EQ(g.timeTicks[0].x, kBox.left);
    EXPECT_FALSE(g.timeTicks[0].fullHeight);
    EXPECT_TRUE(g.timeTicks[12].fullHeight);  // 720: an hour
    EXPECT_EQ(g.timeTicks[12].x, kBox.left + 600 * 720 / 1000);
    EXPECT_EQ(std::count_if(g.timeTicks.begin(), g.timeTicks.end(), [](auto& t) { return t.fullHeight; }), 1);

    TermGraphLayout half = ComputeTermGraphLayout(History(50, 5.0f), kBox);
    EXPECT_EQ(half.series[0].back().x, kBox.left + 600 * 49 / 100);  // about halfway
}

// Local 03:17:30 on 8 December 2026 at UTC+5:30: a half-hour offset shows that the labels
// go through the clock's own offset, whatever the machine's time zone.
const FixedCalendarClock kIndia = FixedCalendarClock::AtLocal(2026, 12, 8, 3, 17, 30, 19800);

// Samples every five seconds from `start`, with `late` seconds added from sample `from` on.
TermTimeQueue Times(int n, std::time_t start, int from = 0, int late = 0) {
    TermTimeQueue t;
    for (int k = 0; k < n; ++k) t.push_back(start + 5 * k + (k >= from ? late : 0));
    return t;
}

// The labelled ticks as "x HH:MM".
std::vector<std::string> TimeLabels(const TermGraphLayout& g) {
    std::vector<std::string> out;
    for (const auto& tick : g.timeTicks)
        if (tick.label) out.push_back(std::to_string(tick.x) + " " + *tick.label);
    return out;
}

TEST(TermGraphTimeAxis, HundredSamplesAtKnownTimes) {
    const TermTimeQueue times = Times(100, kIndia.Now());
    const TermGraphLayout g = ComputeTermGraphLayout(History(100, 5.0f), kBox, {&times, &kIndia, 30});
    EXPECT_EQ(g.labelEvery, 60);
    EXPECT_EQ(TimeLabels(g), std::vector<std::string>({"10 03:17", "370 03:22"}));  // 03:22:30

    // The same instants on a clock five hours behind UTC.
    const FixedCalendarClock eastern(0, -18000);
    const TermGraphLayout west = ComputeTermGraphLayout(History(100, 5.0f), kBox, {&times, &eastern, 30});
    EXPECT_EQ(TimeLabels(west), std::vector<std::string>({"10 16:47", "370 16:52"}));
}

// Samples missing because the link was closed, or ticks that came late, move the clock
// times of the samples after them: the labels show those times, not a count of samples.
TEST(TermGraphTimeAxis, SkippedTicksKeepTheLabelsTrueToTheClock) {
    TermTimeQueue times = Times(100, kIndia.Now(), 40, 25 * 60);  // 25 minutes closed after sample 39
    for (int k = 50; k < 100; ++k) times[static_cast<size_t>(k)] += 40;  // ten ticks 4 s late each
    const TermGraphLayout g = ComputeTermGraphLayout(History(100, 5.0f), kBox, {&times, &kIndia, 30});
    EXPECT_EQ(TimeLabels(g), std::vector<std::string>({"10 03:17", "370 03:48"}));  // 03:48:10

    // A late tick that crosses a minute shows the later minute; seconds are cut, as on a clock.
    times = Times(100, kIndia.Now() + 29);  // 03:17:59
    times[60] += 1;
    EXPECT_EQ(TimeLabels(ComputeTermGraphLayout(History(100, 5.0f), kBox, {&times, &kIndia, 30})),
              std::vector<std::string>({"10 03:17", "370 03:23"}));
}

TEST(TermGraphTimeAxis, SpacingFollowsTheLabelWidthAndTheBoxEdge) {
    // 1000 samples: five-minute ticks are 36 px apart, enough for 30 + 6; the last tick
    // (x 586) has no room for its label before the right edge (610).
    TermTimeQueue times = Times(1000, kIndia.Now());
    TermGraphLayout g = ComputeTermGraphLayout(History(1000, 5.0f), kBox, {&times, &kIndia, 30});
    EXPECT_EQ(g.labelEvery, 60);
    std::vector<std::string> labels = TimeLabels(g);
    ASSERT_EQ(labels.size(), 16u);
    EXPECT_EQ(labels[1], "46 03:22");
    EXPECT_EQ(labels[12], "442 04:17");  // the hour line
    EXPECT_EQ(labels[15], "550 04:32");
    EXPECT_FALSE(g.timeTicks.back().label);

    // Wider labels: every ten minutes.
    g = ComputeTermGraphLayout(History(1000, 5.0f), kBox, {&times, &kIndia, 40});
    EXPECT_EQ(g.labelEvery, 120);
    EXPECT_EQ(TimeLabels(g)[1], "82 03:27");

    // A full history: only the hour lines are labelled, every one that fits.
    times = Times(10000, kIndia.Now());
    g = ComputeTermGraphLayout(History(10000, 5.0f), kBox, {&times, &kIndia, 30});
    EXPECT_EQ(g.labelEvery, 720);
    labels = TimeLabels(g);
    ASSERT_EQ(labels.size(), 14u);  // 0, 720, ..., 9360
    EXPECT_EQ(labels[1], "53 04:17");
    EXPECT_EQ(labels[13], "571 16:17");
    for (const auto& tick : g.timeTicks)
        if (tick.label) {
            EXPECT_TRUE(tick.x == kBox.left || tick.fullHeight);
        }

    // A box too narrow for two labels at the widest spacing: none.
    EXPECT_EQ(ComputeTermGraphLayout(History(10000, 5.0f), PlotBox(40, 305), {&times, &kIndia, 30}).labelEvery, 0);
}

TEST(TermGraphTimeAxis, NoLabelsWithoutTimesBesideTheSamples) {
    const TermTimeQueue times = Times(99, kIndia.Now());  // one short: not index for index
    EXPECT_TRUE(TimeLabels(ComputeTermGraphLayout(History(100, 5.0f), kBox, {&times, &kIndia, 30})).empty());
    EXPECT_TRUE(TimeLabels(ComputeTermGraphLayout(History(100, 5.0f), kBox)).empty());
    // A time with no local time (its conversion failed) leaves its tick unlabelled.
    class Failing final : public CalendarClock {
    public:
        std::time_t Now() const override { return 0; }
        std::tm LocalNow() const override { return {}; }
        std::tm ToLocal(std::time_t) const override { return {}; }
    } failing;
    const TermTimeQueue hundred = Times(100, 0);
    const TermGraphLayout g = ComputeTermGraphLayout(History(100, 5.0f), kBox, {&hundred, &failing, 30});
    EXPECT_EQ(g.labelEvery, 60);
    EXPECT_TRUE(TimeLabels(g).empty());
}

TEST(TermGraphLayoutTest, LegendShowsTheNewestReadings) {
    for (const auto& v : ComputeTermGraphLayout({}, kBox).latest) EXPECT_FALSE(v);
    TermHistoryQueue h = History(3, 1.0f, 2.0f, kNoSample, 4.0f);
    h.push_back({{12.345f, kNoSample, kNoSample, -0.004f}, 0});
    const TermGraphLayout g = ComputeTermGraphLayout(h, kBox);
    EXPECT_EQ(g.latest[0], "12.35");
    EXPECT_FALSE(g.latest[1]);  // read before, but not in the newest sample
    EXPECT_FALSE(g.latest[2]);
    EXPECT_EQ(g.latest[3], "0.00");
}

TEST(TermGraphLayoutTest, MissingReadingsLeaveGaps) {
    TermHistoryQueue h = History(6, 1.0f, 2.0f);
    h[2].T[1] = kNoSample;
    h[3].T[1] = kNoSample;
    TermGraphLayout g = ComputeTermGraphLayout(h, kBox);
    const auto& s = g.series[1];
    EXPECT_FALSE(s[0].joined);
    EXPECT_TRUE(s[1].joined);
    EXPECT_FALSE(s[2].joined);
    EXPECT_EQ(s[2].y, kBox.bottom);
    EXPECT_FALSE(s[4].joined);  // resumes without a line from the gap
    EXPECT_TRUE(s[5].joined);
    for (const auto& pt : g.series[3]) EXPECT_FALSE(pt.joined);  // never read: nothing drawn
}

int CountColour(const QImage& img, QColor c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, y) == c;
    return n;
}

// Pixels in the rectangle of colour `c` or, with `shades`, of any darker shade of it on black
// (the edges of smoothed text).
int CountIn(const QImage& img, QRect r, QColor c, bool shades = false) {
    auto like = [&](QColor q) {
        if (!shades) return q == c;
        if (q == QColor(Qt::black)) return false;
        int full = -1;
        for (auto [want, got] : {std::pair{c.red(), q.red()}, {c.green(), q.green()}, {c.blue(), q.blue()}}) {
            if (want == 0 && got != 0) return false;
            if (want != 0 && full >= 0 && got != full) return false;
            if (want != 0) full = got;
        }
        return true;
    };
    int n = 0;
    r = r.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += like(img.pixelColor(x, y));
    return n;
}

QImage Paint(const TermHistoryQueue& h, const TermTimeQueue& times, std::array<std::string, 4> names = {},
             bool readings = false) {
    QImage img(632, 370, QImage::Format_RGB32);
    QPainter painter(&img);
    PaintTermGraph(painter, img.size(), h, names, times, kIndia, readings);
    return img;
}

// The leftmost and rightmost columns of `r` that hold ink of colour `c` (or a shade of it);
// {-1, -1} for none.
std::pair<int, int> InkColumns(const QImage& img, QRect r, QColor c) {
    std::pair<int, int> found{-1, -1};
    for (int x = r.left(); x <= r.right(); ++x)
        if (CountIn(img, QRect(x, r.top(), 1, r.height()), c, true) > 0) {
            if (found.first < 0) found.first = x;
            found.second = x;
        }
    return found;
}

TEST(TermGraphPaint, DrawsSeriesInTheirColoursOnBlackAndSavesAPicture) {
    TermHistoryQueue h;
    for (int i = 0; i < 1000; ++i) {
        float t = static_cast<float>(i) / 100.0f;
        h.push_back({{10.0f + t, (i / 100) % 2 ? kNoSample : 8.0f - t / 2, 12.0f, kNoSample}, i});
    }
    const QImage img = Paint(h, Times(1000, kIndia.Now(), 500, 1800), {"Mirror", "Air", "Tube", "Spare"});
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::black));
    EXPECT_GT(CountColour(img, kSeriesColours[0]), 500);
    EXPECT_GT(CountColour(img, kSeriesColours[1]), 200);
    EXPECT_GT(CountColour(img, kSeriesColours[2]), 500);
    EXPECT_GT(CountColour(img, kSeriesColours[3]), 0);  // only its legend name
    EXPECT_LT(CountColour(img, kSeriesColours[3]), 400);
    EXPECT_TRUE(img.save(QString(VELQ3_BIN_DIR) + "/term_graph.png"));
    // The same with the legend's readings, for a person to compare.
    const QImage readings = Paint(h, Times(1000, kIndia.Now(), 500, 1800), {"Mirror", "Air", "Tube", "Spare"}, true);
    EXPECT_NE(readings, img);
    EXPECT_TRUE(readings.save(QString(VELQ3_BIN_DIR) + "/term_graph-readings.png"));
}

// The top value label sits inside the box, below its line, instead of rising above it.
TEST(TermGraphPaint, TopLabelStaysInsideTheBox) {
    const QImage img = Paint({}, {});
    const GraphBox p = PlotBox(img.width(), img.height());
    EXPECT_EQ(CountIn(img, QRect(0, 0, img.width(), p.top), Qt::white), 0);
    EXPECT_GT(CountIn(img, QRect(p.left, p.top, 30, 20), Qt::white), 5);  // "0.5" under the top line
}

// By default the legend is the names alone, one below the other from the box's top, each
// ending at the box's right edge: a row for each name drawn and none for an empty name, even
// where that sensor has readings.
TEST(TermGraphPaint, LegendNamesStandAtTheRightEdgeOneRowPerNameDrawn) {
    const GraphBox p = PlotBox(632, 370);
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter measure(&scratch);
    const QFontMetrics fm = measure.fontMetrics();
    const int h0 = fm.height();
    // Ten samples keep the series at the left, away from the legend; every sensor reads.
    const TermHistoryQueue h = History(10, 5.0f, 6.0f, 7.0f, 8.0f);
    struct Case {
        std::array<std::string, 4> names;
        std::array<int, 4> row;  // the legend row of each sensor; -1: none
    };
    const Case cases[] = {
        {{"Mirror", "Air", "Tube", "Spare"}, {0, 1, 2, 3}},
        {{"Mirror", "", "Tube", ""}, {0, -1, 1, -1}},
        {{"", "", "", "Spare"}, {-1, -1, -1, 0}},
        {{"", "", "", ""}, {-1, -1, -1, -1}},
    };
    const QRect legend(p.left + 100, p.top, p.right - p.left - 99, 4 * h0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names[0] + "|" + c.names[1] + "|" + c.names[2] + "|" + c.names[3]);
        const QImage img = Paint(h, Times(10, kIndia.Now()), c.names);
        for (size_t j = 0; j < 4; ++j) {
            SCOPED_TRACE(j);
            if (c.row[j] < 0) {
                EXPECT_EQ(CountIn(img, legend, kSeriesColours[j], true), 0);  // no name, no reading
                continue;
            }
            const QRect row(legend.left(), p.top + c.row[j] * h0, legend.width(), h0);
            EXPECT_EQ(CountIn(img, legend, kSeriesColours[j], true), CountIn(img, row, kSeriesColours[j], true));
            // The name's advance ends at the right edge; its ink within a pixel or two of it.
            const auto [left, right] = InkColumns(img, row, kSeriesColours[j]);
            const int start = p.right - fm.horizontalAdvance(QString::fromStdString(c.names[j]));
            EXPECT_NEAR(left, start, 2);
            EXPECT_LE(right, p.right);
            EXPECT_GE(right, p.right - 3);
        }
    }
}

// Time labels are white text right of their line above the short ticks; with the readings
// shown, the legend holds each sensor's newest reading right of its name, in its colour.
TEST(TermGraphPaint, TimeLabelsAndLegendReadings) {
    const GraphBox p = PlotBox(632, 370);
    const TermHistoryQueue h = History(100, 5.0f, 6.0f);
    const int x60 = p.left + (p.right - p.left) * 60 / 100;
    const QRect strip(x60 + 1, p.bottom - 40, 40, 30);
    EXPECT_GT(CountIn(Paint(h, Times(100, kIndia.Now())), strip, Qt::white), 10);
    EXPECT_EQ(CountIn(Paint(h, {}), strip, Qt::white), 0);  // no times, no labels

    // Ten samples keep the series at the left. Rows: name then reading, or the reading alone.
    const std::array<std::string, 4> names = {"Mirror", "Air", "", ""};
    const QImage img = Paint(History(10, 5.0f, kNoSample, 7.0f), Times(10, kIndia.Now()), names, true);
    const QImage bare = Paint(History(10, kNoSample, kNoSample), Times(10, kIndia.Now()), names, true);
    QImage scratch(1, 1, QImage::Format_RGB32);
    const int h0 = QPainter(&scratch).fontMetrics().height();  // one legend row
    const QRect right(p.left + 100, p.top, p.right - p.left - 99, h0);
    auto leftmost = [&](const QImage& i, QRect r, QColor c) {
        for (int x = r.left(); x <= r.right(); ++x)
            if (CountIn(i, QRect(x, r.top(), 1, r.height()), c, true) > 0) return x;
        return -1;
    };
    // With a reading, "Mirror" moves left of the reading's column.
    EXPECT_LT(leftmost(img, right, kSeriesColours[0]), leftmost(bare, right, kSeriesColours[0]) - 20);
    EXPECT_GT(CountIn(img, QRect(p.right - 20, p.top, 21, h0), kSeriesColours[0], true), 5);
    // "Air" has no reading in the newest sample: its name stands in the names' column, and
    // nothing in the readings' column.
    EXPECT_GT(CountIn(img, right.translated(0, h0), kSeriesColours[1], true), 5);
    EXPECT_EQ(CountIn(img, QRect(p.right - 15, p.top + h0, 16, h0), kSeriesColours[1], true), 0);
    // Sensor 2 has no name but a reading: the reading alone in the next row.
    EXPECT_GT(CountIn(img, right.translated(0, 2 * h0), kSeriesColours[2], true), 5);
    EXPECT_EQ(CountIn(bare, QRect(p.left + 100, p.top, p.right, 5 * h0), kSeriesColours[2], true), 0);
}

} // namespace
} // namespace velq3::test
