// The service on the test's own thread with a manual loop: the headless poll's turns, its
// silence while a window polls or a command runs, moves started by other faces, the default
// age of stale readings on an injected clock, and the status queries a second as the
// controller receives them.
#include <algorithm>

#include "service/ServiceFixture.h"

namespace velq3::test {
namespace {

class PollTest : public ServiceTest {
protected:
    void SetUp() override {
        StartSim({"--mode", "0", "--sensors", "2"});
        DeviceEnvironment env = Env();
        env.loop = &loop;
        fw = std::make_unique<OrnFilterWheel>(env);
        fw->SetSteadyClock([this] { return clock; });
        fw->ComPort = 3;
        fw->SetSink([](std::string_view) {});
        service = std::make_unique<DeviceService>(*fw, loop);
        client = DeviceService::NewClient();
        ASSERT_TRUE(service->Connect(client, DeviceKind::Focuser).Ok());
    }
    void TearDown() override {
        service.reset();
        fw.reset();
    }

    // Moves the device's clock on (the age of someone else's status read).
    void PassTime(std::chrono::milliseconds d) { clock += d; }

    ManualMainLoop loop;
    SteadyTime clock = SteadyTime{} + std::chrono::hours(1);
    std::unique_ptr<OrnFilterWheel> fw;
    std::unique_ptr<DeviceService> service;
    ClientId client = 0;
};

TEST_F(PollTest, PollsOncePerIntervalWhileNobodyElseDoes) {
    service->StartPoll();
    EXPECT_TRUE(service->Polling());
    // The handshake's status counts as someone else's: the first turn within the window skips.
    PassTime(1600ms);
    sim->control("set temp 1 -550");
    const auto serial = service->Current()->serial;
    loop.AdvanceBy(1000ms);
    auto s = service->Current();
    EXPECT_GT(s->serial, serial);
    EXPECT_FLOAT_EQ(s->status.Temp[1], -5.5f);
    sim->control("set temp 1 -600");
    loop.AdvanceBy(1000ms);
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[1], -6.0f);
    service->StopPoll();
    EXPECT_FALSE(service->Polling());
    sim->control("set temp 1 -700");
    loop.AdvanceBy(3000ms);
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[1], -6.0f);
}

TEST_F(PollTest, SkipsWhileAWindowPollsOrACommandHoldsTheLink) {
    PassTime(1600ms);
    // A window's status query: the service's next turn stays silent.
    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(s));
    sim->control("set temp 0 2000");
    EXPECT_FALSE(service->PollOnce());
    EXPECT_NE(service->Current()->status.Temp[0], 20.0f);
    // ... and the window's status is published all the same.
    sim->control("set temp 0 2100");
    const auto serial = service->Current()->serial;
    ASSERT_TRUE(fw->GetAll(s));
    EXPECT_GT(service->Current()->serial, serial);
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[0], 21.0f);

    // Once the window stops, the service polls again.
    PassTime(1600ms);
    sim->control("set temp 0 2200");
    EXPECT_TRUE(service->PollOnce());
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[0], 22.0f);

    // While a command holds the link the turn sends nothing.
    fw->m_bBusy = true;
    sim->control("set temp 0 2300");
    EXPECT_FALSE(service->PollOnce());
    fw->m_bBusy = false;
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[0], 22.0f);
    EXPECT_TRUE(service->PollOnce());
    EXPECT_FLOAT_EQ(service->Current()->status.Temp[0], 23.0f);

    // A closed link is not polled.
    ASSERT_TRUE(service->Disconnect(client).Ok());
    EXPECT_FALSE(service->PollOnce());
}

TEST_F(PollTest, MovesStartedByOtherFacesShowInTheSnapshot) {
    std::vector<std::shared_ptr<const Snapshot>> seen;
    const auto handle = service->AddListener([&seen](const std::shared_ptr<const Snapshot>& s) { seen.push_back(s); });
    ASSERT_TRUE(fw->GoToPosition(300, 0));  // as an automation object's Move does
    service->RemoveListener(handle);
    ASSERT_GE(seen.size(), 2u);
    bool sawRunning = false;
    for (const auto& s : seen) sawRunning |= s->Moving(MoveKind::Focuser0) && s->move.target == 300;
    EXPECT_TRUE(sawRunning);
    const auto& last = seen.back();
    EXPECT_FALSE(last->Moving());
    EXPECT_EQ(last->lastMove.kind, MoveKind::Focuser0);
    EXPECT_TRUE(last->lastMove.ok);
    EXPECT_EQ(last->status.FocusPos, 300);
    // Removed listeners hear nothing more.
    const auto count = seen.size();
    service->Publish();
    EXPECT_EQ(seen.size(), count);

    // The second motor in mode 0 is the second focuser.
    ASSERT_TRUE(fw->GoToPosition(40, 1));
    EXPECT_EQ(service->Current()->lastMove.kind, MoveKind::Focuser1);
}

TEST_F(PollTest, ReadingsGoStaleAfterTenSecondsWithoutAnAnswer) {
    ASSERT_EQ(fw->StaleAfter, kStaleStatusAge);
    EXPECT_EQ(kStaleStatusAge, 10000ms);
    sim->control("fault silent");
    clock += 9900ms;
    EXPECT_FALSE(fw->ReadingsStale());
    EXPECT_FALSE(service->Current()->Stale(service->Now()));
    EXPECT_FALSE(service->PollOnce());  // asked, and the controller is silent
    EXPECT_FALSE(service->PollOnce());
    clock += 200ms;
    EXPECT_TRUE(fw->ReadingsStale());
    auto s = service->Current();
    EXPECT_EQ(s->ReadingProblem(service->Now()).value_or(""), kNoAnswerMessage);
    // An answer makes them fresh again.
    sim->control("fault none");
    EXPECT_TRUE(service->PollOnce());
    EXPECT_FALSE(fw->ReadingsStale());
    EXPECT_FALSE(service->Current()->ReadingProblem(service->Now()).has_value());
}

TEST_F(PollTest, CommandsOnTheOwnerThreadRunAtOnce) {
    // A face living on the owner thread must not wait for itself.
    const auto r = service->SetFocusPosition(0, 1234);
    ASSERT_TRUE(r.Ok()) << r.message;
    EXPECT_EQ(service->Current()->status.FocusPos, 1234);
    auto f = service->Submit([](OrnFilterWheel& d) {
        return d.IsOpen() ? CommandResult::Success() : CommandResult::Error(CommandStatus::Failed, "closed");
    });
    EXPECT_TRUE(f.get().Ok());
}

} // namespace
} // namespace velq3::test

namespace velq3::test {
namespace {

// A controller without the full status query that answers late: a position query left without
// its answer ends the turn, so its late answer is never read as a temperature.
TEST_F(ServiceTest, AnOlderControllerAnsweringLateNeverGivesAnotherQuerysAnswerAsATemperature) {
    StartSim({"--mode", "7", "--no-all", "--sensors", "2"});
    sim->control("set temp 0 1234");
    sim->control("set focus 0 0");  // its position read as a temperature would be 0.00 degrees
    ManualMainLoop loop;
    DeviceEnvironment env = Env();
    env.loop = &loop;
    OrnFilterWheel fw(env);
    fw.ComPort = 3;
    fw.SetSink([](std::string_view) {});
    DeviceService service(fw, loop);
    ASSERT_TRUE(service.Connect(DeviceService::NewClient(), DeviceKind::Focuser).Ok());
    std::this_thread::sleep_for(1600ms);  // past the handshake's status
    ASSERT_TRUE(service.PollOnce());
    ASSERT_FLOAT_EQ(fw.Temp[0], 12.34f);

    sim->control("slow 400");  // beyond every query's read time-out
    for (int turn = 0; turn < 2; ++turn) {
        EXPECT_FALSE(service.PollOnce());
        EXPECT_FLOAT_EQ(fw.Temp[0], 12.34f) << "turn " << turn;
        std::this_thread::sleep_for(500ms);
    }
    sim->control("slow 0");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(service.PollOnce());
    EXPECT_FLOAT_EQ(fw.Temp[0], 12.34f);
}

}  // namespace
}  // namespace velq3::test

namespace velq3::test {
namespace {

// The service alone (no window): one status query a second for its clients, with the full
// status or with an older controller's per-item queries, counted on the simulator's side.
class HeadlessPollTest : public ServiceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HeadlessPollTest, AsksOnceASecondForItsClients) {
    const bool fullStatus = GetParam();
    std::vector<std::string> args = {"--verbose", "--mode", "7", "--sensors", "2"};
    if (!fullStatus) args.push_back("--no-all");
    StartSim(args);
    ManualMainLoop loop;
    DeviceEnvironment env = Env();
    env.loop = &loop;
    OrnFilterWheel fw(env);
    fw.SetSteadyClock([&loop] { return SteadyTime{} + std::chrono::hours(1) + loop.Now(); });
    fw.ComPort = 3;
    fw.SetSink([](std::string_view) {});
    DeviceService service(fw, loop);
    service.StartPoll();
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(service.Connect(client, DeviceKind::FilterWheel).Ok());
    ASSERT_EQ(fw.m_bStatusPresent, fullStatus);
    sim->takeReceived();

    // The handshake has just read the status: the first turn leaves its second to it.
    std::vector<int> perSecond;
    for (int i = 0; i < 12; ++i) {
        loop.AdvanceBy(1000ms);
        const auto words = sim->takeReceived();
        const auto count = [&words](const char* w) { return static_cast<int>(std::count(words.begin(), words.end(), w)); };
        perSecond.push_back(fullStatus ? count("FWAll") : count("FWFILTER"));
        EXPECT_EQ(count(fullStatus ? "FWFILTER" : "FWAll"), 0) << "second " << i;
    }
    std::vector<int> expected(12, 1);
    expected[0] = 0;
    EXPECT_EQ(perSecond, expected);
    EXPECT_FALSE(fw.ReadingsStale());

    // Nobody holds the link: nothing is asked.
    ASSERT_TRUE(service.Disconnect(client).Ok());
    sim->takeReceived();
    loop.AdvanceBy(3000ms);
    EXPECT_TRUE(sim->takeReceived().empty());
}

INSTANTIATE_TEST_SUITE_P(Controllers, HeadlessPollTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "FullStatus" : "PerItem");
                         });

}  // namespace
}  // namespace velq3::test
