// The fault matrix: every fault of the simulated controller against every command and move that
// the automation objects (through velq3-ctl) and the Alpaca face (through HTTP) reach. Each row
// runs one call while the fault is on and checks that it ends within its bound, that it reports
// failure rather than success with a wrong value, that neither the server nor the client spins
// while it waits, and that the same call succeeds once the fault has cleared.
#include <algorithm>
#include <array>
#include <cmath>

#include "faults/FaultRig.h"

namespace velq3::test {
namespace {

enum class Fault { Silent, Garbage, Short, Foreign, Fail, SlowWithin, SlowBeyond, Vanish, Replug };
enum class Call { Status, Temperature, MemoryImage, WheelMove, FocuserMove, Focuser2Move, TempComp, HeaterSet, Halt };
enum class Face { Automation, Alpaca };
// What the call under the fault must report. Either: failure, or success with the right value
// (a reading served from the last good status, or a move retried on the line that came back).
// Garbled: as Either, but a success may carry a garbled value: the two bytes of a temperature
// have no check, so a garbled pair reads as some temperature (the protocol cannot tell).
enum class Expect { Ok, Fails, Either, Garbled };

constexpr std::array kFaults{Fault::Silent,  Fault::Garbage,    Fault::Short,      Fault::Foreign, Fault::Fail,
                             Fault::SlowWithin, Fault::SlowBeyond, Fault::Vanish, Fault::Replug};
constexpr std::array kCalls{Call::Status,       Call::Temperature, Call::MemoryImage, Call::WheelMove, Call::FocuserMove,
                            Call::Focuser2Move, Call::TempComp,    Call::HeaterSet,   Call::Halt};

const char* FaultName(Fault f) {
    constexpr const char* names[] = {"Silent", "Garbage", "Short", "Foreign", "Fail", "SlowWithin", "SlowBeyond", "Vanish", "Replug"};
    return names[static_cast<int>(f)];
}
const char* CallName(Call c) {
    constexpr const char* names[] = {"Status",       "Temperature", "MemoryImage", "WheelMove", "FocuserMove",
                                     "Focuser2Move", "TempComp",    "HeaterSet",   "Halt"};
    return names[static_cast<int>(c)];
}

// Slow replies: within the 200 ms a one-byte reply may take, and beyond it (but within every move's
// time-out and the memory write's 1000 ms).
constexpr int kSlowWithinMs = 100;
constexpr int kSlowBeyondMs = 400;
// The per-slot filter change time-out in the test's settings.
constexpr int kFilterTimeoutMs = 100;
// Wheel: 7 slots (the simulator's default memory), one slot away; the one retry starts from an
// unknown slot (at most 3 away, plus 7 ms per slot). Each wait overruns by at most one 200 ms read.
constexpr int kWheelTry1Ms = 1 * kFilterTimeoutMs + 5000;
constexpr int kWheelTry2Ms = 3 * kFilterTimeoutMs + 5000 + 7 * 3;
constexpr int kWheelMoveMs = kWheelTry1Ms + 200 + kWheelTry2Ms + 2 * 200;
// Focuser: 20 steps at 200 steps/s, backlash 50 steps (the simulator's memory): 100 + 550 + 2000
// ms, a position read (300 ms) first when the position is unknown, one read overrun.
constexpr int kFocuserStepsPerCall = 20;
constexpr int kFocuserMoveMs = 300 + kFocuserStepsPerCall * 1000 / 200 + 50 * 11 + 2000 + 200;
// A command that waits for the owner thread (a status query may hold it) before it runs.
constexpr int kStartDeadlineMs = 1000;
// Allowance for process scheduling on a loaded machine (and the sanitizers).
constexpr int kSlackMs = 1500;

// The expected outcome of each call under each fault, from the link's rules: a silent, garbled or
// shortened reply fails the command that waits for it; foreign messages and '/' concern only wheel
// moves (a foreign message is skipped, '/' fails the move at once); slow replies within the read
// time-out are still read, beyond it they fail a short command but not a move or the memory write
// (1000 ms); a line that vanishes fails the command on it; a replugged line is opened again.
// Readings (Status, Temperature) come from the last status query and stay good until they are
// stale; a garbled or cut status must never show as a reading. A connection on a garbled line
// may succeed: any two bytes answer the focuser position query, and every mode byte is a
// controller's; the filter names it then reports are still the true ones.
//                                    Silent         Garbage        Short          Foreign     Fail           SlowWithin  SlowBeyond     Vanish         Replug
constexpr Expect kTable[][9] = {
    /* Status       */ {Expect::Either, Expect::Either, Expect::Either, Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Either, Expect::Either, Expect::Either},
    /* Temperature  */ {Expect::Either, Expect::Garbled, Expect::Either, Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Either, Expect::Either, Expect::Either},
    /* MemoryImage  */ {Expect::Fails,  Expect::Either, Expect::Fails,  Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Fails,  Expect::Fails,  Expect::Ok},
    /* WheelMove    */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Ok, Expect::Fails, Expect::Ok, Expect::Ok,     Expect::Either, Expect::Either},
    /* FocuserMove  */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Ok,     Expect::Fails,  Expect::Either},
    /* Focuser2Move */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Ok,     Expect::Fails,  Expect::Either},
    /* TempComp     */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Fails,  Expect::Fails,  Expect::Either},
    /* HeaterSet    */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Ok, Expect::Ok,    Expect::Ok, Expect::Ok,     Expect::Fails,  Expect::Either},
    /* Halt         */ {Expect::Fails,  Expect::Fails,  Expect::Fails,  Expect::Fails, Expect::Fails, Expect::Fails, Expect::Fails, Expect::Fails, Expect::Fails},
};

// The documented bound of each call on the automation face (it blocks until the command ends).
// The Alpaca face answers a command within the start deadline plus the same time (it waits for
// short commands, and starts moves without waiting for them).
int CallBoundMs(Call c) {
    switch (c) {
    case Call::Status:
    case Call::Temperature:
    case Call::Halt: return 0;  // served from memory
    case Call::MemoryImage:
        // The handshake: position (200 ms), focuser (300), status (200, then its block: 2 s at
        // most) and memory size (300) queries, then the memory read, which ends 100 ms after
        // the bytes stop.
        return 200 + 300 + 200 + 2100 + 300 + 500;
    case Call::WheelMove: return kWheelMoveMs;
    case Call::FocuserMove:
    case Call::Focuser2Move: return kFocuserMoveMs;
    case Call::TempComp: return 200;
    case Call::HeaterSet: return 1000 + 100;
    }
    return 0;
}
bool IsMove(Call c) { return c == Call::WheelMove || c == Call::FocuserMove || c == Call::Focuser2Move; }

// The command word that a vanish fault is bound to, so that the line goes away in this call and
// not in a status query that happens to run first.
const char* VanishWord(Call c) {
    switch (c) {
    case Call::MemoryImage: return "FWreadEE";
    case Call::WheelMove: return "FWGOTO";
    case Call::FocuserMove:
    case Call::Focuser2Move: return "FWgoFocus";
    case Call::TempComp: return "FWautoCompSet";
    case Call::Temperature: return "FWtemperature";  // the controller without the full status
    case Call::HeaterSet: return "FWwriteEE";
    default: return "FWAll";
    }
}

struct Row {
    Fault fault;
    Call call;
    Face face;
    Expect expect;
};

std::vector<Row> AllRows() {
    std::vector<Row> rows;
    for (Call c : kCalls)
        for (Fault f : kFaults)
            for (Face face : {Face::Automation, Face::Alpaca}) {
                // The heater set point is written by the Alpaca switch only.
                if (c == Call::HeaterSet && face == Face::Automation) continue;
                rows.push_back({f, c, face, kTable[static_cast<int>(c)][static_cast<int>(f)]});
            }
    return rows;
}

void PrintTo(const Row& row, std::ostream* os) {
    constexpr const char* expects[] = {"succeeds", "fails", "fails or succeeds", "fails or succeeds (value unchecked)"};
    *os << CallName(row.call) << " under " << FaultName(row.fault) << " through "
        << (row.face == Face::Automation ? "the automation objects" : "the Alpaca face") << ": "
        << expects[static_cast<int>(row.expect)];
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return std::string(FaultName(info.param.fault)) + "_" + CallName(info.param.call) + "_" +
           (info.param.face == Face::Automation ? "Automation" : "Alpaca");
}

// What a call reported: success with its value, or failure with the message.
struct Outcome {
    bool ok = false;
    std::string value;
    std::string text;  // the raw reply, for messages
};

class Matrix : public FaultRig, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        const Row& row = GetParam();
        // The temperature query proper ("FWtemperature") serves the readings of a controller
        // without the full status query.
        StartRig(row.call == Call::Focuser2Move ? 0 : 7, kFilterTimeoutMs,
                 row.call == Call::Temperature ? std::vector<std::string>{"--no-all"} : std::vector<std::string>{},
                 row.face == Face::Automation);
        if (HasFatalFailure()) return;
        if (row.face == Face::Automation) StartCtl(ProgId());
    }

    const char* ProgId() const {
        switch (GetParam().call) {
        case Call::MemoryImage:
        case Call::WheelMove: return "VELQ3.FilterWheel";
        case Call::Focuser2Move: return "VELQ3.Focuser2";
        default: return "VELQ3.Focuser";
        }
    }
    std::string AlpacaDevice() const {
        switch (GetParam().call) {
        case Call::MemoryImage:
        case Call::WheelMove: return "/api/v1/filterwheel/0/";
        case Call::Focuser2Move: return "/api/v1/focuser/1/";
        case Call::HeaterSet: return "/api/v1/switch/0/";
        default: return "/api/v1/focuser/0/";
        }
    }
    bool UsesAutomation() const { return GetParam().face == Face::Automation; }

    // ---- the two faces ----

    // One velq3-ctl operation: "NAME = VALUE" is success, "NAME: error ..." failure.
    Outcome Automation(const std::string& op, int boundMs) {
        const std::string line = Ctl(op, std::chrono::milliseconds(boundMs + kSlackMs + 5000));
        Outcome o;
        o.text = line;
        const auto eq = line.find(" = ");
        o.ok = eq != std::string::npos && line.find(": error ") == std::string::npos;
        if (o.ok) o.value = line.substr(eq + 3);
        return o;
    }
    static Outcome FromReply(const Reply& r) {
        Outcome o;
        o.text = r.body;
        o.ok = r.status == 200 && r.Error() == 0;
        if (o.ok && r.json.contains("Value")) o.value = r.Value().dump();
        return o;
    }
    Outcome Get(const std::string& member, const std::string& query = "") {
        return FromReply(http->Get(AlpacaDevice() + member, query));
    }
    Outcome Put(const std::string& member, const std::string& form) {
        return FromReply(http->Put(AlpacaDevice() + member, form));
    }

    // ---- connection and the reference values ----

    Outcome Connect() {
        if (UsesAutomation()) return Automation(GetParam().call == Call::MemoryImage || GetParam().call == Call::WheelMove
                                                    ? "Connected=true"
                                                    : "Link=true",
                                                CallBoundMs(Call::MemoryImage));
        return Put("connected", "Connected=true");
    }
    Outcome Disconnect() {
        if (UsesAutomation())
            return Automation(GetParam().call == Call::MemoryImage || GetParam().call == Call::WheelMove ? "Connected=false"
                                                                                                         : "Link=false",
                              0);
        return Put("connected", "Connected=false");
    }
    // The value the reading call reports on a healthy line.
    Outcome Read() {
        switch (GetParam().call) {
        case Call::Temperature: return UsesAutomation() ? Automation("Temperature", 0) : Get("temperature");
        case Call::MemoryImage: return UsesAutomation() ? Automation("Names", 0) : Get("names");
        case Call::WheelMove: return UsesAutomation() ? Automation("Position", 0) : Get("position");
        case Call::HeaterSet: return Get("getswitchvalue", "Id=" + std::to_string(heaterId));
        default: return UsesAutomation() ? Automation("Position", 0) : Get("position");
        }
    }

    // ---- the call under test ----

    // Runs the row's call; `round` 0 runs under the fault, 1 after it cleared (another target).
    // For a success, `expected` is the value it must have produced.
    Outcome Run(int round, std::string& expected) {
        const Call call = GetParam().call;
        const int bound = CallBoundMs(call);
        switch (call) {
        case Call::Status:
        case Call::Temperature:
            expected = reference;
            return Read();
        case Call::MemoryImage: {
            expected = reference;
            Outcome c = Connect();
            if (!c.ok) return c;
            return Read();  // the filter names come from the memory image
        }
        case Call::Halt:
            expected.clear();
            if (round == 1) {  // Halt never works; after the fault another member does
                const Outcome max = UsesAutomation() ? Automation("MaxStep", 0) : Get("maxstep");
                expected = max.value;
                return max;
            }
            return UsesAutomation() ? Automation("Halt()", 0) : Put("halt", "");
        case Call::TempComp: {
            expected.clear();
            const bool on = round == 0;
            if (UsesAutomation()) {
                expected = on ? "true" : "false";  // velq3-ctl repeats the value it set
                return Automation(std::string("TempComp=") + (on ? "true" : "false"), bound);
            }
            return Put("tempcomp", std::string("TempComp=") + (on ? "true" : "false"));
        }
        case Call::HeaterSet: {
            const double value = round == 0 ? 21.5 : 23.0;
            expected = Json(value).dump();
            Outcome o = Put("setswitchvalue", "Id=" + std::to_string(heaterId) + "&Value=" + std::to_string(value));
            if (!o.ok) return o;
            return Read();
        }
        case Call::WheelMove: {
            const int target = (referencePosition + 1 + round) % 7;
            expected = std::to_string(target);
            return MoveAndRead("Position", target, bound);
        }
        case Call::FocuserMove:
        case Call::Focuser2Move: {
            const int target = referencePosition + kFocuserStepsPerCall * (1 + round);
            expected = std::to_string(target);
            return MoveAndRead("Move", target, bound);
        }
        }
        return {};
    }

    // A move and then the position it left: on the automation face the call itself reports the
    // outcome; on the Alpaca face the command answers at once and the position tells the end.
    Outcome MoveAndRead(const std::string& member, int target, int boundMs) {
        if (UsesAutomation()) {
            const std::string op = member == "Move" ? "Move(" + std::to_string(target) + ")" : member + "=" + std::to_string(target);
            Outcome o = Automation(op, boundMs);
            if (!o.ok) return o;
            return Read();
        }
        const auto started = Clock::now();
        Outcome o = member == "Move" ? Put("move", "Position=" + std::to_string(target))
                                     : Put("position", "Position=" + std::to_string(target));
        const double answerMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        EXPECT_LT(answerMs, kStartDeadlineMs + kSlackMs) << "the move was not answered at once";
        if (!o.ok) return o;
        // The end of the move: the focuser stops moving, the wheel reports a slot again.
        const auto deadline = started + std::chrono::milliseconds(kStartDeadlineMs + boundMs + kSlackMs);
        for (;;) {
            Outcome r = member == "Move" ? Get("ismoving") : Get("position");
            const bool moving = member == "Move" ? r.ok && r.value == "true" : r.ok && r.value == "-1";
            if (!moving) {
                if (member == "Move") r = Get("position");
                // A move that stopped short (its line went away half-way) leaves the motor
                // where it stopped: a failure, reported with the true position, which lies
                // between the start and the target (anything else is a wrong value).
                if (r.ok && r.value != std::to_string(target)) {
                    const long at = std::stol(r.value);
                    const bool between = member == "Move" ? (at >= std::min(referencePosition, target) &&
                                                             at <= std::max(referencePosition, target))
                                                          : (at >= 0 && at < 7);
                    EXPECT_TRUE(between) << "the move ended at a wrong position: " << r.text;
                    r.ok = false;
                }
                return r;
            }
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "the move did not end within " << boundMs << " ms: " << r.text;
                return r;
            }
            std::this_thread::sleep_for(50ms);
        }
    }

    // ---- faults ----

    void ApplyFault() {
        switch (GetParam().fault) {
        case Fault::Silent: sim->control("fault silent"); break;
        case Fault::Garbage: sim->control("fault garbage"); break;
        case Fault::Short: sim->control("fault short"); break;
        case Fault::Foreign: sim->control("fault foreign"); break;
        case Fault::Fail: sim->control("fault fail"); break;
        case Fault::SlowWithin: sim->control("slow " + std::to_string(kSlowWithinMs)); break;
        case Fault::SlowBeyond: sim->control("slow " + std::to_string(kSlowBeyondMs)); break;
        case Fault::Vanish: sim->control(std::string("fault vanish ") + VanishWord(GetParam().call)); break;
        case Fault::Replug:
            // The adapter is pulled out and plugged in again: a new terminal under the same name.
            sim->control("replug");
            ASSERT_FALSE(sim->waitNewTty(5000).empty()) << "the line did not come back";
            break;
        }
        // Readings come from the status query, once a second but not within 1.5 s of the one the
        // connection made: let one run under the fault.
        if (GetParam().call == Call::Status || GetParam().call == Call::Temperature)
            std::this_thread::sleep_until(std::max(Clock::now() + 1100ms, connected + 2600ms));
    }

    void ClearFault() {
        if (GetParam().fault == Fault::Vanish) {
            // The line went away in the call (or, for the readings, in a status query) and comes
            // back after 300 ms; the fault clears itself.
            EXPECT_FALSE(sim->waitNewTty(5000).empty()) << "the line did not vanish and come back";
        }
        sim->control("fault none");
        sim->control("slow 0");
        // Late replies land and are discarded; readings are fresh again after one good query.
        std::this_thread::sleep_for(GetParam().fault == Fault::SlowBeyond ? 500ms : 100ms);
        if (GetParam().call == Call::Status || GetParam().call == Call::Temperature) {
            // A reading the fault spoiled is good again after the next status query (one a second).
            const auto deadline = Clock::now() + 1500ms;
            while (Clock::now() < deadline) {
                const Outcome r = Read();
                if (r.ok && r.value == reference) break;
                std::this_thread::sleep_for(100ms);
            }
        }
    }

    std::string reference;      // the reading on a healthy line
    int referencePosition = 0;  // the wheel slot or focuser position before the call
    int heaterId = 0;
    Clock::time_point connected;
};

TEST_P(Matrix, Call) {
    const Row& row = GetParam();
    ASSERT_NE(server, nullptr);

    // A healthy connection and the values it reports.
    const Outcome c = Connect();
    ASSERT_TRUE(c.ok) << c.text;
    connected = Clock::now();
    if (row.call == Call::HeaterSet) {
        const Outcome n = Get("maxswitch");
        ASSERT_TRUE(n.ok) << n.text;
        heaterId = std::stoi(n.value) - 1;
        const Reply name = http->Get(AlpacaDevice() + "getswitchname", "Id=" + std::to_string(heaterId));
        ASSERT_EQ(name.Value(), "Heater set point");
    }
    Outcome before = Read();
    if (row.call == Call::Temperature) {
        // Without the full status query the temperatures come with the first poll.
        const auto deadline = Clock::now() + 3s;
        while (!(before.ok && before.value.rfind("12.34", 0) == 0) && Clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            before = Read();
        }
    }
    ASSERT_TRUE(before.ok) << before.text;
    reference = before.value;
    if (IsMove(row.call)) referencePosition = std::stoi(before.value);
    if (row.call == Call::MemoryImage) {
        const Outcome d = Disconnect();
        ASSERT_TRUE(d.ok) << d.text;
    }

    // The call under the fault.
    ApplyFault();
    if (HasFatalFailure()) return;
    std::string expected;
    const CostMeter meter(server->Pid(), UsesAutomation() ? ctl->Pid() : 0);
    const Outcome o = Run(0, expected);
    const CallCost cost = meter.Stop();

    const int bound = (UsesAutomation() ? 0 : kStartDeadlineMs) + CallBoundMs(row.call) +
                      (row.fault == Fault::SlowWithin || row.fault == Fault::SlowBeyond ? kSlowBeyondMs : 0);
    EXPECT_LT(cost.wallMs, bound + kSlackMs) << "the call took longer than its bound of " << bound << " ms";
    switch (row.expect) {
    case Expect::Ok: EXPECT_TRUE(o.ok) << "expected success: " << o.text; break;
    case Expect::Fails: EXPECT_FALSE(o.ok) << "expected failure: " << o.text; break;
    case Expect::Either:
    case Expect::Garbled: break;
    }
    if (o.ok && row.expect != Expect::Garbled) {
        EXPECT_EQ(o.value, expected) << "success with a wrong value: " << o.text;
    }
    // Waiting is sleeping: CPU time well under the wall time, for the server and the client.
    EXPECT_LT(cost.serverCpuMs, 0.25 * cost.wallMs + 100) << "server CPU over " << cost.wallMs << " ms";
    EXPECT_LT(cost.clientCpuMs, 0.25 * cost.wallMs + 100) << "client CPU over " << cost.wallMs << " ms";

    // The fault clears: the same call works again, on the same connection (a failed connection
    // is made again).
    ClearFault();
    if (row.call == Call::MemoryImage && o.ok) {
        const Outcome d = Disconnect();
        EXPECT_TRUE(d.ok) << d.text;
    }
    if (IsMove(row.call)) {
        const Outcome now = Read();
        // After a failed move the wheel's slot is unknown until it moves again; a focuser's
        // position is read again.
        if (now.ok && now.value != "-1") referencePosition = std::stoi(now.value);
    }
    const Outcome after = Run(1, expected);
    EXPECT_TRUE(after.ok) << "the call after the fault cleared failed: " << after.text;
    if (after.ok) {
        EXPECT_EQ(after.value, expected) << after.text;
    }
    if (HasFailure()) std::cerr << "velq3's log:\n" << Text(home.file("velq3.err"));
}

INSTANTIATE_TEST_SUITE_P(Faults, Matrix, ::testing::ValuesIn(AllRows()), RowName);

}  // namespace
}  // namespace velq3::test
