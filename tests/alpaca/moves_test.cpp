// Moves as imaging programs and the conformance checker drive them through the HTTP face: the
// end state of a cover the moment it stops moving, and a controller that vanishes mid-move.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "alpaca/AlpacaSimFixture.h"

namespace velq3::test {
namespace {

// One way to drive the cover: as a dome shutter or as a cover calibrator.
struct CoverFace {
    const char* device;
    const char* open;
    const char* close;
    const char* moving;
    const char* state;
    int openValue;
    int closedValue;
};

const CoverFace kDome{"dome/0", "openshutter", "closeshutter", "slewing", "shutterstatus", 0, 1};
const CoverFace kCover{"covercalibrator/0", "opencover", "closecover", "covermoving", "coverstate", 3, 1};

class CoverEndTest : public AlpacaSimTest {
protected:
    // A simulator in cover mode with the dome and the cover connected, the cover closed.
    void StartClosed(std::vector<std::string> args) {
        Start(std::move(args));
        Connect("dome/0");
        Connect("covercalibrator/0");
        ASSERT_EQ(WaitFor("dome/0", "shutterstatus", [](const Json& v) { return v == 1; }, 5s).Value(), 1);
    }

    // Opens and closes the cover, `operations` moves in all, through `face`, reading the moving flag first
    // after `phase` (a random part of `interval`) and then every `interval`, and requires the
    // end state whenever that flag reads false. Returns how many operations broke the rule.
    int Cycle(const CoverFace& face, int operations, std::chrono::milliseconds interval, std::mt19937& random) {
        std::uniform_int_distribution<int> phase(0, static_cast<int>(interval.count()) - 1);
        int failures = 0;
        for (int i = 0; i < operations; ++i) {
            const bool open = i % 2 == 0;
            const int want = open ? face.openValue : face.closedValue;
            const Reply started = Put(face.device, open ? face.open : face.close);
            EXPECT_EQ(started.Error(), 0) << started.body;
            if (started.Error() != 0) return failures + 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
            const auto deadline = std::chrono::steady_clock::now() + 30s;
            for (;;) {
                const Reply moving = Get(face.device, face.moving);
                EXPECT_EQ(moving.Error(), 0) << moving.body;
                if (moving.Error() == 0 && moving.Value() == false) break;
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << face.device << " still moving after 30 s";
                    return failures + 1;
                }
                std::this_thread::sleep_for(interval);
            }
            const Reply state = Get(face.device, face.state);
            if (state.Error() != 0 || state.Value() != want) {
                ++failures;
                ADD_FAILURE() << face.device << " operation " << i << ": " << face.state << " read " << state.body
                              << " when moving ended, expected " << want;
            }
        }
        return failures;
    }
};

// The checker polls the moving flag every 500 ms and requires Open or Closed the moment it
// reads false: 50 operations, half through the dome's shutter and half through the cover.
TEST_F(CoverEndTest, TheEndStateIsThereTheMomentMovingEnds) {
    ASSERT_NO_FATAL_FAILURE(StartClosed({"--mode", "-2"}));
    std::mt19937 random(23);
    int failures = 0;
    for (const CoverFace& face : {kDome, kCover}) failures += Cycle(face, 25, 500ms, random);
    EXPECT_EQ(failures, 0);
}

// At 9600 baud with the real speeds: the moving flag read as often as a client may.
TEST_F(CoverEndTest, TheEndStateIsThereTheMomentMovingEndsAtRealSpeed) {
    ASSERT_NO_FATAL_FAILURE(StartClosed({"--mode", "-2", "--realtime"}));
    std::mt19937 random(9600);
    int failures = 0;
    for (const CoverFace& face : {kDome, kCover}) failures += Cycle(face, 2, 20ms, random);
    EXPECT_EQ(failures, 0);
}

// The built-in focuser moving is not the cover moving: the cover keeps its end state.
TEST_F(AlpacaSimTest, TheCoverKeepsItsStateWhileTheFocuserMoves) {
    Start({"--mode", "-2", "--focus-speedup", "1"});
    Connect("focuser/0");
    Connect("dome/0");
    Connect("covercalibrator/0");
    ASSERT_EQ(WaitFor("dome/0", "shutterstatus", [](const Json& v) { return v == 1; }, 5s).Value(), 1);
    const int from = Get("focuser/0", "position").Value();
    ASSERT_EQ(Put("focuser/0", "move", "Position=" + std::to_string(from + 400)).Error(), 0);
    ASSERT_EQ(Get("focuser/0", "ismoving").Value(), true);
    EXPECT_EQ(Get("covercalibrator/0", "covermoving").Value(), false);
    EXPECT_EQ(Get("covercalibrator/0", "coverstate").Value(), 1);
    EXPECT_EQ(Get("dome/0", "slewing").Value(), false);
    EXPECT_EQ(Get("dome/0", "shutterstatus").Value(), 1);
    WaitFor("focuser/0", "ismoving", [](const Json& v) { return v == false; }, 30s);
}

// The controller vanishes (its line hangs up) half a second into a long move: the move ends at
// once as failed, readings report that the controller does not answer, and commands answer at
// once instead of waiting for the move's time-out.
TEST_F(AlpacaSimTest, AControllerThatVanishesMidMoveEndsTheMoveAtOnce) {
    struct Case {
        const char* device;
        std::vector<std::string> simArgs;
        const char* moving;  // the member that reads the move
        const char* reading;
    };
    hive.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", 20000);
    for (const Case& c : {Case{"focuser/0", {"--focus-speedup", "1"}, "ismoving", "position"},
                          Case{"filterwheel/0", {"--move-ms", "5000"}, "position", "position"}}) {
        SCOPED_TRACE(c.device);
        StopFace();
        Start(c.simArgs);
        Connect(c.device);
        Reply r;
        if (std::string(c.device) == "focuser/0") {
            const int from = Get(c.device, "position").Value();
            r = Put(c.device, "move", "Position=" + std::to_string(from + 2000));  // ten seconds
            ASSERT_EQ(r.Error(), 0) << r.body;
            ASSERT_EQ(Get(c.device, "ismoving").Value(), true);
        } else {
            const int from = WaitFor(c.device, "position", [](const Json& v) { return v.get<int>() >= 0; }).Value();
            const int count = static_cast<int>(Get(c.device, "names").Value().size());
            r = Put(c.device, "position", "Position=" + std::to_string((from + 2) % count));  // ten seconds
            ASSERT_EQ(r.Error(), 0) << r.body;
            ASSERT_EQ(Get(c.device, "position").Value(), -1);
        }
        std::this_thread::sleep_for(500ms);
        ASSERT_EQ(::kill(sim->pid(), SIGKILL), 0);
        const auto killed = std::chrono::steady_clock::now();
        // Within a second, well before the move could have ended, the reading fails.
        Reply gone;
        do {
            std::this_thread::sleep_for(20ms);
            gone = Get(c.device, c.reading);
        } while (gone.Error() == 0 && std::chrono::steady_clock::now() - killed < 1s);
        EXPECT_EQ(gone.Error(), 0x500) << gone.body;
        EXPECT_EQ(gone.json.value("ErrorMessage", ""), kNoAnswerMessage);
        const Reply moving = Get(c.device, c.moving);
        EXPECT_EQ(moving.Error(), 0x500) << moving.body;
        const auto snap = service->Service().Current();
        EXPECT_FALSE(snap->Moving());
        EXPECT_FALSE(snap->lastMove.ok);
        // A command is answered at once (its move fails on the dead line), not held as busy.
        const auto before = std::chrono::steady_clock::now();
        r = std::string(c.device) == "focuser/0" ? Put(c.device, "move", "Position=100")
                                                 : Put(c.device, "position", "Position=0");
        EXPECT_NE(r.json.value("ErrorMessage", ""), kBusyMessage) << r.body;
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_LT(std::chrono::steady_clock::now() - killed, 4s);
        sim->stop();
    }
}

// A move to one device while another moves is accepted at once and waits for the line: the
// device reads as moving from then on, a newer target replaces the waiting one, and Halt drops it.
TEST_F(AlpacaSimTest, AMoveWhileAnotherDeviceMovesIsQueued) {
    hive.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", 20000);
    Start({"--move-ms", "1500"});
    Connect("filterwheel/0");
    Connect("focuser/0");
    const int from = WaitFor("filterwheel/0", "position", [](const Json& v) { return v.get<int>() >= 0; }).Value();
    const int count = static_cast<int>(Get("filterwheel/0", "names").Value().size());
    const int focus = Get("focuser/0", "position").Value();
    ASSERT_EQ(Put("filterwheel/0", "position", "Position=" + std::to_string((from + 2) % count)).Error(), 0);  // 3 s
    for (int target : {focus + 100, focus + 200}) {
        const auto before = std::chrono::steady_clock::now();
        const Reply r = Put("focuser/0", "move", "Position=" + std::to_string(target));
        EXPECT_EQ(r.Error(), 0) << r.body;
        EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
        EXPECT_EQ(Get("focuser/0", "ismoving").Value(), true);
    }
    EXPECT_EQ(Get("filterwheel/0", "position").Value(), -1);
    WaitFor("focuser/0", "ismoving", [](const Json& v) { return v == false; }, 30s);
    EXPECT_EQ(Get("filterwheel/0", "position").Value(), (from + 2) % count);
    EXPECT_EQ(Get("focuser/0", "position").Value(), focus + 200);  // the newer target

    // Halt drops a waiting move: the focuser stays where it was.
    ASSERT_EQ(Put("filterwheel/0", "position", "Position=" + std::to_string(from)).Error(), 0);
    ASSERT_EQ(Put("focuser/0", "move", "Position=" + std::to_string(focus)).Error(), 0);
    EXPECT_EQ(Get("focuser/0", "ismoving").Value(), true);
    EXPECT_EQ(Put("focuser/0", "halt").Error(), 0);
    EXPECT_EQ(Get("focuser/0", "ismoving").Value(), false);
    WaitFor("filterwheel/0", "position", [&](const Json& v) { return v == from; }, 30s);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Get("focuser/0", "ismoving").Value(), false);
    EXPECT_EQ(Get("focuser/0", "position").Value(), focus + 200);
}

} // namespace
} // namespace velq3::test
