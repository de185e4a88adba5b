// The device service seen from another thread: snapshots after connection changes, commands
// and polls; asynchronous moves read while they run; commands refused while a move holds the
// owner thread and never run later; stale readings.
#include <atomic>
#include <cmath>

#include "service/ServiceFixture.h"

namespace velq3::test {
namespace {

TEST_F(ServiceTest, ConnectionChangesCommandsAndPollsArePublished) {
    StartSim({"--mode", "0", "--sensors", "2"});
    StartThread();
    const ClientId a = DeviceService::NewClient(), b = DeviceService::NewClient();
    EXPECT_NE(a, b);
    auto before = Service().Current();
    EXPECT_FALSE(before->open);

    ASSERT_TRUE(Service().Connect(a, DeviceKind::Focuser).Ok());
    auto s = Service().Current();
    EXPECT_GT(s->serial, before->serial);
    EXPECT_TRUE(s->open);
    EXPECT_TRUE(s->Holds(a));
    EXPECT_FALSE(s->Holds(b));
    EXPECT_EQ(s->mode, 0);
    EXPECT_EQ(s->sensorCount, 2);
    EXPECT_EQ(s->memorySize, 202);
    EXPECT_TRUE(s->statusPresent);
    EXPECT_EQ(s->comPort, 3);
    EXPECT_EQ(s->portPath, sim->ttyPath());
    ASSERT_TRUE(s->lastAnswer.has_value());
    EXPECT_FALSE(s->ReadingProblem(Service().Now()).has_value());

    // A second client shares the link; the second focuser fits mode 0.
    ASSERT_TRUE(Service().Connect(b, DeviceKind::Focuser2).Ok());
    EXPECT_EQ(Service().Current()->clients.size(), 2u);

    // A synchronous command publishes its effect.
    const auto serial = Service().Current()->serial;
    ASSERT_TRUE(Service().SetTempComp(false).Ok());
    EXPECT_GT(Service().Current()->serial, serial);

    // The headless poll brings the controller's new readings.
    sim->control("set temp 0 1234");
    s = WaitFor([](const Snapshot& x) { return x.status.Temp[0] == 12.34f; }, 4000ms);
    EXPECT_FLOAT_EQ(s->status.Temp[0], 12.34f);
    double t = 0;
    EXPECT_TRUE(s->Temperature(t));
    EXPECT_NEAR(t, 12.34, 1e-4);
    sim->control("set focus 0 777");
    s = WaitFor([](const Snapshot& x) { return x.status.FocusPos == 777; }, 4000ms);
    EXPECT_EQ(s->status.FocusPos, 777);
    EXPECT_EQ(s->FocuserPosition(0), 777 + s->settings.AscomFocusShift);

    // The last client to let go closes the link.
    ASSERT_TRUE(Service().Disconnect(a).Ok());
    EXPECT_TRUE(Service().Current()->open);
    ASSERT_TRUE(Service().Disconnect(b).Ok());
    s = Service().Current();
    EXPECT_FALSE(s->open);
    EXPECT_TRUE(s->clients.empty());
    EXPECT_FALSE(s->lastAnswer.has_value());
}

TEST_F(ServiceTest, ADeviceWhoseModeDoesNotFitIsRefused) {
    StartSim({"--mode", "4"});
    StartThread();
    // The wheel holds the link; a rotator on this wheel-mode controller is refused and lets go.
    const ClientId wheel = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(wheel, DeviceKind::FilterWheel).Ok());
    const ClientId rotator = DeviceService::NewClient();
    const CommandResult r = Service().Connect(rotator, DeviceKind::Rotator);
    EXPECT_EQ(r.status, CommandStatus::WrongMode);
    EXPECT_NE(r.message.find("does not fit a rotator"), std::string::npos) << r.message;
    auto s = Service().Current();
    EXPECT_TRUE(s->open);
    EXPECT_FALSE(s->Holds(rotator));
    EXPECT_TRUE(s->Holds(wheel));
    // Moves of a part the controller lacks are refused before they start.
    EXPECT_EQ(Service().MoveRotatorAbsolute(10).status, CommandStatus::WrongMode);
    EXPECT_EQ(Service().MoveCover(true).status, CommandStatus::WrongMode);
    EXPECT_EQ(Service().MoveFocuser(1, 10000).status, CommandStatus::WrongMode);
    EXPECT_EQ(Service().SelectFilter(4).status, CommandStatus::InvalidValue);
    EXPECT_EQ(Service().SelectFilter(-1).status, CommandStatus::InvalidValue);
    EXPECT_EQ(Service().MoveFocuser(0, 10000 + 40000).status, CommandStatus::InvalidValue);
    EXPECT_EQ(Service().Current()->move.kind, MoveKind::None);
}

TEST_F(ServiceTest, CommandsWithoutALinkAreRefused) {
    StartSim({"--mode", "4"});
    StartThread();
    EXPECT_EQ(Service().SelectFilter(1).status, CommandStatus::NotConnected);
    EXPECT_EQ(Service().MoveFocuser(0, 10000).status, CommandStatus::NotConnected);
    EXPECT_EQ(Service().WriteFilterName(0, "Red").status, CommandStatus::NotConnected);
    EXPECT_EQ(Service().SetHeaterSetPoint(100).status, CommandStatus::NotConnected);
}

// One long wheel move (5 slots at 2 s each): read at once from the snapshot while it runs;
// commands posted meanwhile are refused after the start deadline and never run later.
TEST_F(ServiceTest, ALongMoveIsReadWhileItRunsAndHoldsOffCommands) {
    StartSim({"--mode", "10", "--move-ms", "2000"});
    StartThread();
    owner->Invoke([](OrnFilterWheel& fw) { fw.ChangeFilterTimeoutMs = 4000; });
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::FilterWheel).Ok());
    auto s = Service().Current();
    ASSERT_EQ(s->currentFilter, 0);
    ASSERT_EQ(s->filterCount, 10);

    const auto start = std::chrono::steady_clock::now();
    const CommandResult accepted = Service().SelectFilter(5);
    const double acceptTime = Seconds(std::chrono::steady_clock::now() - start);
    ASSERT_TRUE(accepted.Ok()) << accepted.message;
    EXPECT_LT(acceptTime, 0.5);
    ASSERT_NE(accepted.moveSequence, 0u);

    // Reads come from the snapshot at once, with the wheel's position unknown.
    const auto readStart = std::chrono::steady_clock::now();
    s = Service().Current();
    const double readTime = Seconds(std::chrono::steady_clock::now() - readStart);
    EXPECT_LT(readTime, 0.05);
    EXPECT_EQ(s->currentFilter, -1);
    EXPECT_TRUE(s->Moving(MoveKind::Wheel));
    EXPECT_EQ(s->move.target, 5);
    EXPECT_EQ(s->move.sequence, accepted.moveSequence);
    EXPECT_FALSE(s->ReadingProblem(Service().Now()).has_value());

    // Another move posted meanwhile waits for the line: accepted at once and read as moving.
    // An arbitrary command is refused after about 1 s.
    std::atomic<bool> ran{false};
    auto t0 = std::chrono::steady_clock::now();
    const CommandResult second = Service().SelectFilter(2);
    EXPECT_TRUE(second.Ok()) << second.message;
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - t0), 0.5);
    EXPECT_GT(second.moveSequence, accepted.moveSequence);
    s = Service().Current();
    ASSERT_EQ(s->queued.size(), 1u);
    EXPECT_EQ(s->queued[0].sequence, second.moveSequence);
    t0 = std::chrono::steady_clock::now();
    auto later = Service().Submit([&ran](OrnFilterWheel&) {
        ran = true;
        return CommandResult::Success();
    });
    EXPECT_EQ(later.get().status, CommandStatus::Busy);
    const double refusedAfter = Seconds(std::chrono::steady_clock::now() - t0);
    EXPECT_GE(refusedAfter, 0.9);
    EXPECT_LT(refusedAfter, 2.0);

    // Still the same move, still running, and the readings still come at once.
    s = Service().Current();
    EXPECT_TRUE(s->Moving(MoveKind::Wheel));
    EXPECT_EQ(s->move.sequence, accepted.moveSequence);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 9.0);

    // The end: position 5, the outcome with the move's number; the waiting move then runs.
    s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == accepted.moveSequence; }, 15000ms);
    EXPECT_GE(Seconds(std::chrono::steady_clock::now() - start), 9.0);
    ASSERT_EQ(s->lastMove.sequence, accepted.moveSequence);
    EXPECT_TRUE(s->lastMove.ok);
    EXPECT_EQ(s->lastMove.kind, MoveKind::Wheel);
    EXPECT_EQ(s->lastMove.target, 5);
    s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == second.moveSequence; }, 20000ms);
    ASSERT_EQ(s->lastMove.sequence, second.moveSequence);
    EXPECT_TRUE(s->lastMove.ok);
    EXPECT_FALSE(s->Moving());
    EXPECT_EQ(s->currentFilter, 2);

    // The refused command never runs: the wheel stays at 2.
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(ran.load());
    int position = -1;
    owner->Invoke([&position](OrnFilterWheel& fw) { fw.GetFilter(position); });
    EXPECT_EQ(position, 2);
    EXPECT_EQ(Service().Current()->currentFilter, 2);
}

// A move waiting for the line is bounded by the time-out of the move that held the line when
// it was accepted: kept waiting past that (another waiting move ran first), it fails with a
// message and never runs.
TEST_F(ServiceTest, AWaitingMoveThatCannotStartWithinTheRunningMovesTimeOutFails) {
    StartSim({"--mode", "10", "--move-ms", "2000", "--focus-speedup", "1"});
    StartThread();
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::FilterWheel).Ok());
    // The service's time-out of a 300-step focuser move: about 4.5 s; the move takes 1.5 s.
    owner->Invoke([](OrnFilterWheel& fw) {
        fw.ChangeFilterTimeoutMs = 4000;
        fw.FocuserSpeed = 300;
    });
    ASSERT_EQ(Service().Current()->currentFilter, 0);
    const std::int32_t focus = Service().Current()->FocuserPosition(0);
    const CommandResult first = Service().MoveFocuser(0, focus + 300);
    ASSERT_TRUE(first.Ok()) << first.message;
    const CommandResult wheel = Service().SelectFilter(3);  // six seconds, after the focuser
    ASSERT_TRUE(wheel.Ok()) << wheel.message;
    const CommandResult late = Service().MoveFocuser(0, focus + 600);  // waits for both
    ASSERT_TRUE(late.Ok()) << late.message;
    EXPECT_EQ(Service().Current()->queued.size(), 2u);

    auto s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == late.moveSequence; }, 20000ms);
    ASSERT_EQ(s->lastMove.sequence, late.moveSequence);
    EXPECT_FALSE(s->lastMove.ok);
    EXPECT_NE(s->lastMove.message.find("did not start"), std::string::npos) << s->lastMove.message;
    EXPECT_FALSE(s->Moving());
    EXPECT_EQ(s->currentFilter, 3);
    EXPECT_EQ(s->FocuserPosition(0), focus + 300);
}

TEST_F(ServiceTest, FailedMovesReportTheirOutcome) {
    StartSim({"--mode", "4"});
    StartThread();
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::FilterWheel).Ok());
    sim->control("fault fail");
    const CommandResult r = Service().SelectFilter(2);
    ASSERT_TRUE(r.Ok());
    auto s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == r.moveSequence; });
    EXPECT_FALSE(s->lastMove.ok);
    EXPECT_FALSE(s->lastMove.message.empty());
    EXPECT_FALSE(s->Moving());
    // The slot the wheel is in already: nothing to move, no move number.
    sim->control("fault none");
    const CommandResult again = Service().SelectFilter(2);
    ASSERT_TRUE(again.Ok());
    s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == again.moveSequence; });
    ASSERT_TRUE(s->lastMove.ok);
    const CommandResult none = Service().SelectFilter(2);
    EXPECT_TRUE(none.Ok());
    EXPECT_EQ(none.moveSequence, 0u);
}

TEST_F(ServiceTest, ServiceMovesUseTheAutomationObjectsRules) {
    StartSim({"--mode", "-1"});
    StartThread();
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::Rotator).Ok());
    ASSERT_TRUE(Service().Run([](OrnFilterWheel& fw) {
        fw.MaxSteps = 1000;
        return fw.SetFocusPosition(250, 1) ? CommandResult::Success() : CommandResult::Error(CommandStatus::Failed, "");
    }).Ok());
    // The automation Rotator's worked example: MoveAbsolute(370) with N = 1000 goes to step 27.
    CommandResult r = Service().MoveRotatorAbsolute(370);
    ASSERT_TRUE(r.Ok()) << r.message;
    auto s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == r.moveSequence; });
    ASSERT_TRUE(s->lastMove.ok);
    EXPECT_EQ(s->lastMove.target, 27);
    EXPECT_EQ(s->status.Focus2Pos, 27);
    EXPECT_FLOAT_EQ(s->RotatorPosition(), 9.72f);
    // Reverse mirrors the angle.
    ASSERT_TRUE(Service().SetRotatorReverse(true).Ok());
    EXPECT_FLOAT_EQ(Service().Current()->RotatorPosition(), 360.0f - 9.72f);
    EXPECT_FLOAT_EQ(Service().Current()->RotatorMechanicalPosition(), 9.72f);
    EXPECT_EQ(Service().MoveRotatorAbsolute(std::nanf("")).status, CommandStatus::InvalidValue);
}

// A failed cover move loses the cover's position: without end-stops its state is an error
// (unknown), a move that cannot read the position is refused, and the next move reads the
// position first and drives the travel from there.
TEST_F(ServiceTest, ACoverMoveAfterAFailedOneStartsFromThePositionReadAgain) {
    StartSim({"--mode", "-2"});
    ServiceOptions options;
    options.pollInterval = std::chrono::hours(1);  // no status comes between the moves
    StartThread(options);
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::Cover).Ok());
    ASSERT_TRUE(Service().Run([](OrnFilterWheel& fw) {
        fw.MaxSteps = 100;
        fw.HomeMark = 0;
        fw.FocuserSpeed = 300;
        fw.FocuserBacklash = 0;
        return fw.SetFocusPosition(0, 1) ? CommandResult::Success() : CommandResult::Error(CommandStatus::Failed, "");
    }).Ok());
    sim->control("fault silent FWgoFocus");
    CommandResult r = Service().MoveCover(true);
    ASSERT_TRUE(r.Ok()) << r.message;
    auto s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == r.moveSequence; }, 10000ms);
    ASSERT_EQ(s->lastMove.sequence, r.moveSequence);
    EXPECT_FALSE(s->lastMove.ok);
    EXPECT_EQ(s->Cover(), CoverStatus::Error);
    EXPECT_TRUE(s->CoverPositionUnknown());

    sim->control("fault silent FWfocus");
    const CommandResult refused = Service().MoveCover(true);
    EXPECT_EQ(refused.status, CommandStatus::Failed);
    EXPECT_EQ(refused.message, "The cover's position is unknown");

    sim->control("fault none");
    r = Service().MoveCover(true);
    ASSERT_TRUE(r.Ok()) << r.message;
    s = WaitFor([&](const Snapshot& x) { return x.lastMove.sequence == r.moveSequence; }, 10000ms);
    ASSERT_TRUE(s->lastMove.ok);
    EXPECT_EQ(s->lastMove.target, 100);
    EXPECT_EQ(s->status.Focus2Pos, 100);
    EXPECT_EQ(s->Cover(), CoverStatus::Open);
    EXPECT_FALSE(s->CoverPositionUnknown());
}

TEST_F(ServiceTest, StaleReadingsFailUntilTheControllerAnswersAgain) {
    StartSim({"--mode", "4"});
    ServiceOptions options;
    options.staleAfter = 1500ms;
    StartThread(options);
    const ClientId client = DeviceService::NewClient();
    ASSERT_TRUE(Service().Connect(client, DeviceKind::Focuser).Ok());
    // The poll keeps the readings fresh well past the age.
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(Service().Current()->ReadingProblem(Service().Now()).has_value());

    sim->control("fault silent");
    std::this_thread::sleep_for(2500ms);
    auto s = Service().Current();
    EXPECT_TRUE(s->open);
    ASSERT_TRUE(s->Stale(Service().Now()));
    EXPECT_EQ(s->ReadingProblem(Service().Now()).value_or(""), kNoAnswerMessage);

    sim->control("fault none");
    s = WaitFor([&](const Snapshot& x) { return !x.Stale(Service().Now()); }, 4000ms);
    EXPECT_FALSE(s->ReadingProblem(Service().Now()).has_value());
}

} // namespace
} // namespace velq3::test
