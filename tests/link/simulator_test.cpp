// The link against the simulated controller over a real pseudo-terminal: a full session of
// commands, and every fault failing within its time bound and recovering afterwards.
#include "common/CpuTime.h"

#include "common/SimProcess.h"
#include "link/DeviceLink.h"
#include "platform/Stopwatch.h"

namespace velq3::test {
namespace {

class SimLinkTest : public ::testing::Test {
protected:
    void Open(std::vector<std::string> args = {}) {
        sim = std::make_unique<SimProcess>(std::move(args));
        link.m_hPort = OpenSerialPort(sim->ttyPath(), 9600);
        ASSERT_NE(link.m_hPort, kNoPort);
    }
    void TearDown() override { SerialClose(link.m_hPort); }

    // Runs a failing status query and checks it ends within its bound without spinning.
    void ExpectStatusFailsQuickly(int boundMs) {
        Stopwatch sw;
        double cpu0 = CpuMs(RUSAGE_SELF);
        FWCurrentParameters s = EmptyStatus();
        EXPECT_FALSE(link.GetAll(s));
        EXPECT_LT(sw.ElapsedMs(), boundMs);
        EXPECT_LT(CpuMs(RUSAGE_SELF) - cpu0, 50.0) << "the failing read must wait, not spin";
        EXPECT_FALSE(link.IsBusy());
    }

    std::unique_ptr<SimProcess> sim;
    CFilterTable filters;
    CTimeLogFile log;
    CDeviceLink link{filters, log};
};

TEST_F(SimLinkTest, SessionReadsImageStatusAndMovesTheWheel) {
    Open({"--sensors", "2"});
    int size = 0;
    ASSERT_TRUE(link.GetMemorySize(size));
    EXPECT_EQ(size, 202);
    link.m_MemorySize = size;
    ASSERT_TRUE(link.ReadMemory(0, size, link.ImageBytes()));
    ASSERT_TRUE(link.FiltersFromImage());
    ASSERT_EQ(filters.FilterCount(), 7);

    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(link.GetAll(s));
    EXPECT_NE(s.Temp[0], kNoTemperature);
    EXPECT_EQ(s.Temp[2], kNoTemperature);
    EXPECT_NEAR(s.Vin, 12.0, 0.5);

    ASSERT_TRUE(link.SelectFilter(3));
    EXPECT_EQ(filters.CurrentFilter, 3);
    int pos = -5;
    ASSERT_TRUE(link.GetFilter(pos));
    EXPECT_EQ(pos, 3);

    ASSERT_TRUE(link.SetFocusPosition(1000, 0));
    ASSERT_TRUE(link.GoToPosition(1100, 0));
    ASSERT_TRUE(link.GetFocus(pos, 0));
    EXPECT_EQ(pos, 1100);

    ASSERT_TRUE(link.ReadMicrostepTable());
    EXPECT_GT(link.m_MicrostepTableLen, 0);
    link.m_MicrostepTable[1] ^= 0x55;
    std::vector<std::uint8_t> written(link.m_MicrostepTable, link.m_MicrostepTable + link.m_MicrostepTableLen);
    ASSERT_TRUE(link.WriteMicrostepTable());
    ASSERT_TRUE(link.ReadMicrostepTable());
    EXPECT_EQ(std::vector<std::uint8_t>(link.m_MicrostepTable, link.m_MicrostepTable + link.m_MicrostepTableLen), written);
}

TEST_F(SimLinkTest, MemoryWriteReachesTheDevice) {
    Open();
    link.m_MemorySize = 202;
    ASSERT_TRUE(link.ReadMemory(0, 202, link.ImageBytes()));
    link.FocuserBacklash = 77;
    link.HeaterSetPoint = 0x0A0A;  // line-feed bytes travel unchanged
    ASSERT_TRUE(link.WriteMemoryImage(false));
    std::uint8_t back[202] = {};
    ASSERT_TRUE(link.ReadMemory(0, 202, back));
    EXPECT_EQ(std::memcmp(back, link.ImageBytes(), 202), 0);
}

TEST_F(SimLinkTest, SilentGarbageAndShortRepliesFailThenRecover) {
    Open();
    FWCurrentParameters s = EmptyStatus();
    for (const char* fault : {"silent", "garbage", "short"}) {
        SCOPED_TRACE(fault);
        sim->control(std::string("fault ") + fault);
        if (std::string(fault) == "garbage") {
            // Random bytes may by chance form a valid reply; what matters is no crash, no
            // hang, and a clean recovery.
            for (int i = 0; i < 5; ++i) link.GetAll(s);
        } else {
            ExpectStatusFailsQuickly(100 + 100 + 10 + 100 + 100 * 255 + 50);
        }
        sim->control("fault none");
        SleepMs(50);
        EXPECT_TRUE(link.GetAll(s));
    }
}

TEST_F(SimLinkTest, SlowRepliesWithinTheByteTimeoutStillWork) {
    Open();
    sim->control("slow 80");
    int pos = 0;
    EXPECT_TRUE(link.GetFilter(pos));
    sim->control("slow 400");  // past the 200 ms a one-byte reply may take
    EXPECT_FALSE(link.GetFilter(pos));
    sim->control("slow 0");
    SleepMs(450);
    EXPECT_TRUE(link.GetFilter(pos));
}

TEST_F(SimLinkTest, VanishedLineFailsWithoutSpinning) {
    Open({"--replug-ms", "100000"});
    sim->control("fault vanish");
    ExpectStatusFailsQuickly(100 + 100 + 10 + 100 + 100 * 255 + 50);
    int pos = 0;
    Stopwatch sw;
    EXPECT_FALSE(link.GetFilter(pos));  // the line stays gone
    EXPECT_LT(sw.ElapsedMs(), 400);
}

// A line that hangs up during a move (the controller vanished) ends the move at once as
// failed, long before its time-out.
TEST_F(SimLinkTest, MovesEndAtOnceWhenTheLineVanishes) {
    struct Case {
        const char* name;
        bool (*move)(CDeviceLink&, CFilterTable&);
    };
    const Case cases[] = {
        {"wheel", [](CDeviceLink& l, CFilterTable& f) { return l.SelectFilter((f.CurrentFilter + 3) % f.FilterCount()); }},
        {"home", [](CDeviceLink& l, CFilterTable&) { return l.Home(0); }},
        {"focuser", [](CDeviceLink& l, CFilterTable&) { return l.GoToPosition(l.FocusPos + 2000, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SerialClose(link.m_hPort);
        // Moves of one to three seconds, which the line leaves half-way.
        Open({"--replug-ms", "100000", "--move-ms", "400", "--focus-speedup", "10"});
        link.m_MemorySize = 202;
        ASSERT_TRUE(link.ReadMemory(0, 202, link.ImageBytes()));
        ASSERT_TRUE(link.FiltersFromImage());
        int pos = 0;
        ASSERT_TRUE(link.GetFilter(pos));
        filters.CurrentFilter = pos;
        ASSERT_TRUE(link.GetFocus(pos, 0));
        link.ChangeFilterTimeoutMs = 3000;  // time-outs of 14 s (wheel) and 21 s (home)
        link.FocuserSpeed = 100;            // and 22 s (focuser)
        sim->control("fault vanish");
        Stopwatch sw;
        EXPECT_FALSE(c.move(link, filters));
        EXPECT_LT(sw.ElapsedMs(), 3500.0);
        EXPECT_FALSE(link.IsBusy());
    }
}

TEST_F(SimLinkTest, ForeignMessagesAndReportedFailuresDuringWheelMoves) {
    Open();
    std::vector<std::string> lines;
    log.SetSink([&](std::string_view l) { lines.emplace_back(l); });
    int pos = 0;
    ASSERT_TRUE(link.GetMemorySize(pos));
    link.m_MemorySize = pos;
    ASSERT_TRUE(link.ReadMemory(0, pos, link.ImageBytes()));
    link.FiltersFromImage();
    ASSERT_TRUE(link.GetFilter(pos));

    sim->control("fault foreign");
    ASSERT_TRUE(link.SelectFilter((pos + 3) % filters.FilterCount()));
    int skipped = 0;
    for (const auto& l : lines) skipped += l.find("Skip cmd(") != std::string::npos;
    EXPECT_GE(skipped, 1);

    sim->control("fault fail");
    EXPECT_FALSE(link.SelectFilter((filters.CurrentFilter + 1) % filters.FilterCount()));
    EXPECT_EQ(filters.CurrentFilter, -1);
    EXPECT_NE(lines.back().find("Failed Goto("), std::string::npos);
}

} // namespace
} // namespace velq3::test
