// Wheel and focuser moves against a scripted controller: time-outs, the reports that end a
// move, skipped foreign messages and the log lines.
#include "link/LinkFixture.h"

namespace velq3::test {
namespace {

class MoveTest : public ScriptedLinkTest {
protected:
    void SetUp() override {
        ScriptedLinkTest::SetUp();
        log.SetSink([this](std::string_view l) { lines.emplace_back(l.substr(l.find(" : ") + 3)); });
    }
    std::vector<std::string> lines;
};

TEST(MoveTimeouts, WheelDistanceAndTimeout) {
    EXPECT_EQ(WheelDistance(5, 4, 1), 2);
    EXPECT_EQ(SelectFilterTimeoutMs(5, 4, 1, 1000), 7000);
    EXPECT_EQ(WheelDistance(5, -1, 2), 2);
    EXPECT_EQ(SelectFilterTimeoutMs(5, -1, 2, 1000), 7010);
    EXPECT_EQ(SelectFilterTimeoutMs(5, 3, 3, 1000), 5000);
    EXPECT_EQ(WheelDistance(4, 0, 2), 2);  // equal both ways
    EXPECT_EQ(SelectFilterTimeoutMs(7, 1, 5, 250), 3 * 250 + 5000);
}

TEST(MoveTimeouts, FocuserTimeout) {
    EXPECT_EQ(GoToPositionTimeoutMs(1000, 1600, 200, 50), 5550);
    EXPECT_EQ(GoToPositionTimeoutMs(1000, 1600, 500, 50), 4550);
    EXPECT_EQ(GoToPositionTimeoutMs(1600, 1000, 300, 0), 4000);
    EXPECT_EQ(GoToPositionTimeoutMs(0, 3, 7, 0), 2428);       // truncated, not rounded
    EXPECT_EQ(GoToPositionTimeoutMs(1000, 1600, 0, 50), 4550);  // unset speed: the fastest
}

TEST_F(MoveTest, SelectFilterWaitsForTargetPastOtherPositions) {
    filters.Filters.resize(5);
    filters.CurrentFilter = 4;
    peer.Run({{7, {'0', 'F', 'O', 'K', ' ', 'S', 'O', 'M', 'E', 'T', 'H', 'I', 'N', 'G', '1'}}});
    EXPECT_TRUE(link.SelectFilter(1));
    EXPECT_EQ(Sent(), B("FWGOTO1"));
    EXPECT_EQ(filters.CurrentFilter, 1);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Goto(4->1) dif=2 TimeOut=7000\r\n");
    EXPECT_EQ(lines[1], "Skip cmd(OK SOMETHING)\r\n");
    EXPECT_EQ(lines[2].rfind("OK Goto(4->1) in=", 0), 0u);
}

TEST_F(MoveTest, ForeignMessageEndingInTargetCountsAsArrival) {
    filters.Filters.resize(5);
    filters.CurrentFilter = -1;
    peer.Run({{7, Cat(B("F3ABCDEFGHIJK"), B("x"))}});
    EXPECT_TRUE(link.SelectFilter(3));
    EXPECT_EQ(lines[0], "Goto(-1->3) dif=1 TimeOut=6005\r\n");  // forward 4, backward 1
    EXPECT_EQ(lines[1], "Skip cmd(3ABCDEFGHIJK)\r\n");
}

TEST_F(MoveTest, ReportedFailureAndTimeout) {
    filters.Filters.resize(3);
    filters.CurrentFilter = 0;
    link.ChangeFilterTimeoutMs = -4700;  // keeps the time-out short: 1 * -4700 + 5000 = 300 ms
    peer.Run({{7, {'1', '/'}}});
    EXPECT_FALSE(link.SelectFilter(2));
    EXPECT_EQ(filters.CurrentFilter, -1);
    EXPECT_EQ(lines.back().rfind("Failed Goto(0->2) in=", 0), 0u);

    // A time-out leaves the wheel anywhere between the two slots: the filter is unknown
    // until the next status or move.
    filters.CurrentFilter = 1;
    link.FilterPos = 9;
    peer.Run({{7, {'0'}}});
    EXPECT_FALSE(link.SelectFilter(2));  // never reports 2
    EXPECT_EQ(filters.CurrentFilter, -1);
    EXPECT_EQ(link.FilterPos, -1);
    EXPECT_EQ(lines.back().rfind("Failed Goto(1->2) in=", 0), 0u);
}

TEST_F(MoveTest, ALineThatHangsUpMidMoveLeavesTheFilterUnknown) {
    filters.Filters.resize(5);
    filters.CurrentFilter = 1;
    link.FilterPos = 1;
    link.ChangeFilterTimeoutMs = -4700;
    peer.Run({{7, {}, 0, true}});
    EXPECT_FALSE(link.SelectFilter(2));
    EXPECT_EQ(filters.CurrentFilter, -1);
    EXPECT_EQ(link.FilterPos, -1);
}

TEST_F(MoveTest, HomingThatFailsLeavesTheFilterUnknown) {
    filters.Filters.resize(2);
    filters.CurrentFilter = 1;
    link.ChangeFilterTimeoutMs = 150;
    peer.Run({{6, {'x'}}});
    EXPECT_FALSE(link.Home(0));
    EXPECT_EQ(filters.CurrentFilter, -1);
}

TEST(MoveTimeouts, LargeSettingsAreClampedAndNeverOverflow) {
    // Values that fit keep their results; the largest settings give the clamp.
    EXPECT_EQ(SelectFilterTimeoutMs(10, 0, 5, 700000), 5 * 700000 + 5000);
    EXPECT_EQ(SelectFilterTimeoutMs(10, 0, 5, 0x7fffffff), kMaxMoveTimeoutMs);
    EXPECT_EQ(SelectFilterTimeoutMs(10, -1, 5, 0x7fffffff), kMaxMoveTimeoutMs);
    EXPECT_EQ(SelectFilterTimeoutMs(10, 0, 5, INT32_MIN), 0);  // nothing left to wait for
    EXPECT_EQ(HomeTimeoutMs(8, 1000), 8000);
    EXPECT_EQ(HomeTimeoutMs(10, 0x7fffffff), kMaxMoveTimeoutMs);
    EXPECT_EQ(HomeTimeoutMs(10, INT32_MIN), 0);
    EXPECT_EQ(GoToPositionTimeoutMs(0, 32767, 10, 1000), 32767 * 100 + 1000 * 11 + 2000);
}

// A slow focuser on a long travel takes hours: its move waits the whole formula time, and no
// value of the fields overflows it.
TEST(MoveTimeouts, FocuserTimeoutKeepsTheWholeFormulaForEveryFieldValue) {
    constexpr std::int64_t kInt32Span = 4294967295;  // INT32_MAX - INT32_MIN
    EXPECT_EQ(kMaxFocuserTimeoutMs, kInt32Span * 1000 + 65535 * 11 + 2000);
    struct Case {
        int start, target, speed, backlash;
        std::int64_t expected;
    };
    const Case cases[] = {
        // Over an hour at speed 10: 35 981 steps and more.
        {0, 35981, 10, 0, 35981LL * 100 + 2000},
        {-30000, 30000, 10, 50, 60000LL * 100 + 550 + 2000},
        {32767, -32768, 1, 65535, 65535LL * 1000 + 65535 * 11 + 2000},
        {kPositionNotRead, -32768, 1, 0, (16777215LL + 32768) * 1000 + 2000},
        // The extremes of every field.
        {INT32_MIN, INT32_MAX, 1, 65535, kMaxFocuserTimeoutMs},
        {INT32_MAX, INT32_MIN, 1, 65535, kMaxFocuserTimeoutMs},
        {INT32_MAX, INT32_MIN, 0, 65535, 14316557650LL + 65535 * 11 + 2000},  // unset speed: 300
        {INT32_MIN, INT32_MAX, 65535, 65535, 14316557650LL + 65535 * 11 + 2000},
        // Beyond what the fields hold: held to the largest value, or nothing to wait for.
        {INT32_MIN, INT32_MAX, 1, INT32_MAX, kMaxFocuserTimeoutMs},
        {0, 0, 300, INT32_MIN, 0},
        {0, 0, 300, -200, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GoToPositionTimeoutMs(c.start, c.target, c.speed, c.backlash), c.expected)
            << c.start << " -> " << c.target << " at " << c.speed << ", backlash " << c.backlash;
}

TEST_F(MoveTest, TheLargestFilterTimeoutStillWaitsForTheWheel) {
    filters.Filters.resize(10);
    filters.CurrentFilter = 0;
    link.ChangeFilterTimeoutMs = 0x7fffffff;
    peer.Run({{7, {'5'}, 50}});
    EXPECT_TRUE(link.SelectFilter(5));
    EXPECT_EQ(lines[0], "Goto(0->5) dif=5 TimeOut=" + std::to_string(kMaxMoveTimeoutMs) + "\r\n");
    EXPECT_EQ(filters.CurrentFilter, 5);
}

TEST_F(MoveTest, SelectFilterOnEmptyWheelSendsNothing) {
    EXPECT_FALSE(link.SelectFilter(0));
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(peer.Drain(100).empty());
}

TEST_F(MoveTest, GoToPositionBothForms) {
    link.Mode = 5;
    link.FocuserSpeed = 200;
    link.FocuserBacklash = 50;
    link.FocusPos = 1000;
    peer.Run({{11, {'.', '!'}}});
    EXPECT_TRUE(link.GoToPosition(1600, 0));
    EXPECT_EQ(Sent(), Cat(B("FWgoFocus"), Le16(1600)));
    EXPECT_EQ(link.FocusPos, 1600);
    EXPECT_EQ(lines.back().rfind("OK GoFocus#0(1000->1600) in=", 0), 0u);

    link.Mode = 0;
    link.Focus2Pos = -5;
    peer.Run({{12, {'!'}}});
    EXPECT_TRUE(link.GoToPosition(70000, 3));
    Bytes all = Sent();
    EXPECT_EQ(Bytes(all.begin() + 11, all.end()), Cat(B("FWgoFocus"), Cat({1}, Le16(70000 & 0xFFFF))));
    EXPECT_EQ(link.Focus2Pos, 70000);
    EXPECT_EQ(link.FocusPos, 1600);
    EXPECT_EQ(lines.back().rfind("OK GoFocus#3(-5->70000) in=", 0), 0u);
}

TEST_F(MoveTest, AFailedFocuserMoveLeavesThePositionUnknownUntilReadAgain) {
    link.Mode = 1;
    link.FocuserSpeed = 300;
    link.FocusPos = 100;
    peer.Run({{11, {'x'}}});
    EXPECT_FALSE(link.GoToPosition(100, 0));  // time-out 2000 ms
    EXPECT_EQ(link.FocusPos, kPositionNotRead);
    EXPECT_TRUE(link.m_bFocusPosLost);
    EXPECT_NE(lines.back().find("Failed GoFocus#0(100->100) in="), std::string::npos);
    EXPECT_NE(lines.back().find("ms timeout=2000ms\r\n"), std::string::npos);

    // The next move reads where the motor stands before it computes its time-out.
    const std::size_t before = Sent().size();
    peer.Run({{7, Le16(250)}, {11, {'!'}}});
    EXPECT_TRUE(link.GoToPosition(400, 0));
    const Bytes all = Sent();
    EXPECT_EQ(Bytes(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
              Cat(B("FWfocus"), Cat(B("FWgoFocus"), Le16(400))));
    EXPECT_EQ(link.FocusPos, 400);
    EXPECT_FALSE(link.m_bFocusPosLost);
    EXPECT_EQ(lines.back().rfind("OK GoFocus#0(250->400) in=", 0), 0u);
}

TEST_F(MoveTest, AMoveFromALostPositionThatCannotBeReadSendsNothing) {
    link.Mode = 1;
    link.FocusPos = kPositionNotRead;
    link.m_bFocusPosLost = true;
    peer.Run({{7, {}}});
    EXPECT_FALSE(link.GoToPosition(400, 0));
    EXPECT_EQ(Sent(), B("FWfocus"));
    EXPECT_EQ(link.FocusPos, kPositionNotRead);
    EXPECT_TRUE(link.m_bFocusPosLost);
}

// The second motor's position lost by a failed move is read with the second motor's query, and
// only that motor's flag is set.
TEST_F(MoveTest, AFailedSecondMotorMoveIsFollowedByTheSecondMotorsQuery) {
    link.Mode = -1;
    link.FocuserSpeed = 300;
    link.FocusPos = 100;
    link.Focus2Pos = 250;
    peer.Run({{12, {'x'}}});
    EXPECT_FALSE(link.GoToPosition(277, 1));  // 27 steps: time-out 2090 ms
    EXPECT_EQ(link.Focus2Pos, kPositionNotRead);
    EXPECT_TRUE(link.m_bFocus2PosLost);
    EXPECT_FALSE(link.m_bFocusPosLost);
    EXPECT_EQ(link.FocusPos, 100);

    const std::size_t before = Sent().size();
    peer.Run({{8, Le16(260)}, {12, {'!'}}});
    EXPECT_TRUE(link.GoToPosition(277, 1));
    const Bytes all = Sent();
    EXPECT_EQ(Bytes(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
              Cat(Cat(B("FWfocus"), {1}), Cat(Cat(B("FWgoFocus"), {1}), Le16(277))));
    EXPECT_EQ(lines.back().rfind("OK GoFocus#1(260->277) in=", 0), 0u);
    EXPECT_FALSE(link.m_bFocus2PosLost);
}

// A position the status never carried (older firmware, status blocks under 19 bytes) is not
// read before a move: such a controller would gain a query with every move.
TEST_F(MoveTest, APositionNeverReportedIsNotReadBeforeAMove) {
    struct Case {
        std::int8_t mode;
        int focuser;
        Bytes request;
    };
    for (const Case& c : {Case{1, 0, B("FWgoFocus")}, Case{0, 1, Cat(B("FWgoFocus"), {1})},
                          Case{-1, 1, Cat(B("FWgoFocus"), {1})}, Case{-2, 1, Cat(B("FWgoFocus"), {1})}}) {
        SCOPED_TRACE(c.mode);
        link.Mode = c.mode;
        link.FocusPos = link.Focus2Pos = kPositionNotRead;
        const std::size_t before = Sent().size();
        peer.Run({{c.request.size() + 2, {'!'}}});
        EXPECT_TRUE(link.GoToPosition(500, c.focuser));
        const Bytes all = Sent();
        EXPECT_EQ(Bytes(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), Cat(c.request, Le16(500)));
        EXPECT_EQ(c.focuser == 0 ? link.FocusPos : link.Focus2Pos, 500);
    }
}

TEST_F(MoveTest, HomeWaitsForAcknowledgement) {
    filters.Filters.resize(8);
    peer.Run({{6, {'!'}, 50}});
    EXPECT_TRUE(link.Home(0));
    EXPECT_EQ(Sent(), B("FWHOME"));
    EXPECT_EQ(filters.CurrentFilter, -1);
}

} // namespace
} // namespace velq3::test
