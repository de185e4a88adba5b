// The five-second temperature log: noon-to-noon file names, header and line format, the
// skip conditions, and the bounded sample history.
#include <fstream>
#include <limits>
#include <sys/stat.h>

#include "common/ScriptedPeer.h"
#include "device/DeviceFixture.h"

namespace velq3::test {
namespace {

std::string ReadFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TermLogTest : public DeviceTest {
protected:
    void SetUp() override { MakeLogDevice(clock); }
    // A connected device object whose log reads `c`.
    void MakeLogDevice(const CalendarClock& c) {
        if (fw) TearDown();
        DeviceEnvironment env;
        env.loop = &loop;
        env.clock = &c;
        fw = std::make_unique<OrnFilterWheel>(env);
        fw->SetSink([](std::string_view) {});
        // A connected device with a focuser, as the handshake leaves it.
        fw->m_hPort = OpenSerialPort(peer.path(), 9600);
        fw->m_bFocuserPresent = true;
        fw->TermLogPath = dir.path();
        fw->SensorCount = 2;
        fw->Temp[0] = -3.25f;
        fw->Temp[1] = kNoTemperature;
        fw->FocusPos = 12345;
        fw->FilterPos = 2;
        std::memcpy(fw->FilterNames[2], "Ha", 2);
    }
    void TearDown() override {
        SerialClose(fw->m_hPort);
        fw->m_hPort = kNoPort;
    }
    // Sets the local time and lets the five-second timer fire once.
    void TickAt(int y, int mo, int d, int h, int mi, int s) {
        clock.SetLocal(y, mo, d, h, mi, s);
        loop.AdvanceBy(std::chrono::milliseconds(kTermLogIntervalMs));
    }
    std::string LogFile(const char* date) { return ReadFile(dir.file(std::string("term_log_") + date + ".csv")); }

    ScriptedPeer peer;
    FixedCalendarClock clock;
    std::unique_ptr<OrnFilterWheel> fw;
};

TEST(TermLogNames, NightDateAndHoursPastMidnight) {
    auto at = [](int h, int mi, int s) {
        return FixedCalendarClock::AtLocal(2026, 12, 7, h, mi, s);
    };
    auto early = at(3, 10, 0);
    EXPECT_EQ(TermLogFileName(early.ToLocal(early.Now() - 43200)), "term_log_2026-12-06.csv");
    auto afternoon = at(13, 0, 0);
    EXPECT_EQ(TermLogFileName(afternoon.ToLocal(afternoon.Now() - 43200)), "term_log_2026-12-07.csv");
    EXPECT_EQ(TermLogTime(at(3, 10, 5).LocalNow()), "27:10:05");
    EXPECT_EQ(TermLogTime(at(13, 0, 0).LocalNow()), "13:00:00");
    EXPECT_EQ(TermLogTime(at(0, 0, 0).LocalNow()), "24:00:00");
}

// A clock whose times cannot be converted to local time, as localtime_r fails for a time it
// cannot represent in a calendar year.
class UnconvertibleClock final : public CalendarClock {
public:
    std::time_t Now() const override { return std::numeric_limits<std::time_t>::max(); }
    std::tm LocalNow() const override { return ToLocal(Now()); }
    std::tm ToLocal(std::time_t t) const override { return SystemCalendarClock().ToLocal(t); }
};

// A failed conversion names the file with a zero year, month and day and writes the time with
// the hour 23 and the minute and second -1.
TEST_F(TermLogTest, FailedLocalTimeGivesTheFallbackDateAndTime) {
    EXPECT_EQ(TermLogFileName(std::tm{}), "term_log_0-00-00.csv");
    EXPECT_EQ(TermLogTime(std::tm{}), "23:-1:-1");
    const UnconvertibleClock unconvertible;
    MakeLogDevice(unconvertible);
    loop.AdvanceBy(std::chrono::milliseconds(kTermLogIntervalMs));
    EXPECT_EQ(ReadFile(dir.file("term_log_0-00-00.csv")), "Time,T0,T1,Focus,Filter\r\n23:-1:-1,-3.25,,12345,Ha\r\n");
    EXPECT_EQ(fw->TermHistory.size(), 1u);
    // Midnight still counts on past 24: only a failed conversion gives 23.
    EXPECT_EQ(TermLogTime(FixedCalendarClock::AtLocal(2026, 12, 7, 0, 0, 0).LocalNow()), "24:00:00");
}

TEST_F(TermLogTest, LinesGoToTheNightsFileWithHeaderOnce) {
    TickAt(2026, 12, 7, 3, 10, 5);
    TickAt(2026, 12, 7, 11, 59, 59);
    TickAt(2026, 12, 7, 12, 0, 4);
    EXPECT_EQ(LogFile("2026-12-06"), "Time,T0,T1,Focus,Filter\r\n27:10:05,-3.25,,12345,Ha\r\n35:59:59,-3.25,,12345,Ha\r\n");
    EXPECT_EQ(LogFile("2026-12-07"), "Time,T0,T1,Focus,Filter\r\n12:00:04,-3.25,,12345,Ha\r\n");
    ASSERT_EQ(fw->TermHistory.size(), 3u);
    EXPECT_EQ(fw->TermHistory[0].T[0], -3.25f);
    EXPECT_EQ(fw->TermHistory[0].T[1], kNoSample);
    EXPECT_EQ(fw->TermHistory[0].T[3], kNoSample);
    EXPECT_EQ(fw->TermHistory[0].Focus, 12345);
    // Each sample's time is the tick's calendar time, in seconds since the epoch.
    const std::time_t first = FixedCalendarClock::AtLocal(2026, 12, 7, 3, 10, 5).Now();
    EXPECT_EQ(fw->TermHistoryTimes, TermTimeQueue({first, first + 31794, first + 31799}));
}

TEST_F(TermLogTest, NoSensorsUnknownFilterAndEightCharacterNames) {
    fw->SensorCount = 0;
    fw->FilterPos = 0;
    fw->FocusPos = 5000;
    std::memcpy(fw->FilterNames[0], "L", 2);
    TickAt(2026, 12, 7, 13, 0, 0);
    fw->FilterPos = -1;
    TickAt(2026, 12, 7, 13, 0, 5);
    std::memcpy(fw->FilterNames[1], "Luminanc", 8);
    std::memcpy(fw->FilterNames[2], "XY", 3);  // would follow without a terminating zero
    fw->FilterPos = 1;
    TickAt(2026, 12, 7, 13, 0, 10);
    fw->FilterPos = 10;  // no name in the image for slot 10
    TickAt(2026, 12, 7, 13, 0, 15);
    EXPECT_EQ(LogFile("2026-12-07"),
              "Time,Focus,Filter\r\n13:00:00,5000,L\r\n13:00:05,5000,\r\n13:00:10,5000,Luminanc\r\n13:00:15,5000,\r\n");
}

TEST_F(TermLogTest, ExistingFileIsAppendedWithoutSecondHeader) {
    { std::ofstream(dir.file("term_log_2026-12-07.csv"), std::ios::binary) << "Time,T0,Focus,Filter\r\n13:00:00,1.00,1,\r\n"; }
    TickAt(2026, 12, 7, 14, 0, 0);
    EXPECT_EQ(LogFile("2026-12-07"), "Time,T0,Focus,Filter\r\n13:00:00,1.00,1,\r\n14:00:00,-3.25,,12345,Ha\r\n");
}

TEST_F(TermLogTest, SkippedWhileClosedAbsentOrBusy) {
    fw->m_bFocuserPresent = false;
    TickAt(2026, 12, 7, 14, 0, 0);
    fw->m_bFocuserPresent = true;
    fw->m_bBusy = true;
    TickAt(2026, 12, 7, 14, 0, 5);
    fw->m_bBusy = false;
    PortHandle h = fw->m_hPort;
    fw->m_hPort = kNoPort;
    TickAt(2026, 12, 7, 14, 0, 10);
    fw->m_hPort = h;
    EXPECT_TRUE(fw->TermHistory.empty());
    EXPECT_TRUE(fw->TermHistoryTimes.empty());
    EXPECT_EQ(LogFile("2026-12-07"), "");
}

// Ticks skipped while the link was closed leave no sample and no time; a late tick records
// the time at which it ran.
TEST_F(TermLogTest, SampleTimesFollowTheTicksThatRecorded) {
    fw->TermLogPath.clear();
    TickAt(2026, 12, 7, 22, 0, 0);
    PortHandle h = fw->m_hPort;
    fw->m_hPort = kNoPort;
    TickAt(2026, 12, 7, 22, 0, 5);
    TickAt(2026, 12, 7, 22, 0, 10);
    fw->m_hPort = h;
    TickAt(2026, 12, 7, 22, 0, 17);
    const std::time_t first = FixedCalendarClock::AtLocal(2026, 12, 7, 22, 0, 0).Now();
    ASSERT_EQ(fw->TermHistory.size(), 2u);
    EXPECT_EQ(fw->TermHistoryTimes, TermTimeQueue({first, first + 17}));
}

TEST_F(TermLogTest, MissingFolderStillRecordsTheSample) {
    fw->TermLogPath = dir.file("missing/folder");
    TickAt(2026, 12, 7, 14, 0, 0);
    EXPECT_EQ(fw->TermHistory.size(), 1u);
    fw->TermLogPath.clear();
    TickAt(2026, 12, 7, 14, 0, 5);
    EXPECT_EQ(fw->TermHistory.size(), 2u);
}

TEST_F(TermLogTest, HistoryKeepsTheLatest10000Samples) {
    fw->TermLogPath.clear();
    clock.Set(1'800'000'000);
    for (int i = 0; i < 10001; ++i) {
        fw->FocusPos = i;
        fw->TermLogTick();
        clock.Advance(std::chrono::seconds(5));
    }
    ASSERT_EQ(fw->TermHistory.size(), 10000u);
    EXPECT_EQ(fw->TermHistory.front().Focus, 1);
    EXPECT_EQ(fw->TermHistory.back().Focus, 10000);
    // The times are dropped with their samples: each one still belongs to the same sample.
    ASSERT_EQ(fw->TermHistoryTimes.size(), 10000u);
    for (std::size_t k = 0; k < 10000; ++k)
        ASSERT_EQ(fw->TermHistoryTimes[k], 1'800'000'000 + 5 * fw->TermHistory[k].Focus) << k;
}

} // namespace
} // namespace velq3::test
