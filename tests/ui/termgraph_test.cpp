// The temperature graph: value range, grid and label spacing, time ticks, series with gaps,
// and the picture painted into an image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "ui/TermGraph.h"
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

TEST(TermGraphPaint, DrawsSeriesInTheirColoursOnBlackAndSavesAPicture) {
    TermHistoryQueue h;
    for (int i = 0; i < 1000; ++i) {
        float t = static_cast<float>(i) / 100.0f;
        h.push_back({{10.0f + t, (i / 100) % 2 ? kNoSample : 8.0f - t / 2, 12.0f, kNoSample}, i});
    }
    QImage img(632, 370, QImage::Format_RGB32);
    {
        QPainter painter(&img);
        PaintTermGraph(painter, img.size(), h, {"Mirror", "Air", "Tube", "Spare"});
    }
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::black));
    EXPECT_GT(CountColour(img, kSeriesColours[0]), 500);
    EXPECT_GT(CountColour(img, kSeriesColours[1]), 200);
    EXPECT_GT(CountColour(img, kSeriesColours[2]), 500);
    EXPECT_GT(CountColour(img, kSeriesColours[3]), 0);  // only its legend name
    EXPECT_LT(CountColour(img, kSeriesColours[3]), 400);
    EXPECT_TRUE(img.save(QString(VELQ3_BIN_DIR) + "/term_graph.png"));
}

} // namespace
} // namespace velq3::test
