// indi_velq3 under indiserver with the simulator as the controller, driven by Debian's
// command-line clients as a user's script would.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "indi/IndiFixture.h"

namespace velq3::test {
namespace {

std::string Dev(const char* device, const std::string& rest) { return std::string(device) + "." + rest; }

// The 8 name bytes of filter `index` in the simulator's memory file.
std::string NameInMemory(const std::string& eepromPath, int index) {
    std::ifstream in(eepromPath, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 142) return "<memory file too short>";
    std::string name = bytes.substr(62 + 8 * static_cast<std::size_t>(index), 8);
    return name.substr(0, name.find('\0'));
}

// ---- the wheel, the shared connection and the event loop ----

TEST_F(IndiTest, EveryDeviceIsDefinedWithItsInterfaceBeforeConnecting) {
    Start();
    EXPECT_EQ(Get(Dev(kWheel, "DRIVER_INFO.DRIVER_INTERFACE")), "16");
    EXPECT_EQ(Get(Dev(kFocuser, "DRIVER_INFO.DRIVER_INTERFACE")), "8");
    EXPECT_EQ(Get(Dev(kFocuser2, "DRIVER_INFO.DRIVER_INTERFACE")), "8");
    EXPECT_EQ(Get(Dev(kRotator, "DRIVER_INFO.DRIVER_INTERFACE")), "4096");
    EXPECT_EQ(Get(Dev(kCover, "DRIVER_INFO.DRIVER_INTERFACE")), "512");
    EXPECT_EQ(Get(Dev(kWheel, "POLLING_PERIOD.PERIOD_MS")), "1000");
    EXPECT_EQ(Get(Dev(kWheel, "CONNECTION.CONNECT")), "Off");
    EXPECT_EQ(Get(Dev(kWheel, "DEVICE_PORT._PERM")), "rw");
}

TEST_F(IndiTest, WheelShowsTheControllersFiltersAndMovesBusyThenOk) {
    Start();
    sim->control("set move-ms 300");
    ASSERT_TRUE(Connect(kWheel));
    EXPECT_EQ(Get(Dev(kWheel, "FILTER_NAME.FILTER_SLOT_NAME_1")), "L");
    EXPECT_EQ(Get(Dev(kWheel, "FILTER_NAME.FILTER_SLOT_NAME_7")), "SII");
    EXPECT_EQ(Get(Dev(kWheel, "FILTER_FOCUS_OFFSETS.OFFSET_2")), "35");
    EXPECT_EQ(GetNumber(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE")), 1);
    ASSERT_TRUE(Set(Dev(kWheel, "POLLING_PERIOD.PERIOD_MS=250")));

    // The request reaches the driver through indiserver while the next client connects, so
    // Busy is awaited rather than read once; the 600 ms move leaves it in view.
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE=3")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_SLOT", 2), 2));
    EXPECT_TRUE(Eval(Q(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==3 && " + StateIs(kWheel, "FILTER_SLOT", 1), 10));
    // Later status queries read the simulator's own position (slot 2 counted from 0).
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(GetNumber(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE")), 3);
    sim->control("set wheel 5");
    EXPECT_TRUE(Eval(Q(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==6", 5));
}

TEST_F(IndiTest, WheelRefusesSlotsOutsideTheWheelWithAlert) {
    Start();
    ASSERT_TRUE(Connect(kWheel));
    for (const char* slot : {"8", "0", "2.5"}) {
        ASSERT_TRUE(Set(Dev(kWheel, std::string("FILTER_SLOT.FILTER_SLOT_VALUE=") + slot)));
        EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_SLOT", 3), 5)) << slot;
        EXPECT_EQ(GetNumber(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE")), 1) << slot;
    }
    // A good request after the refusals works.
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE=2")));
    EXPECT_TRUE(Eval(Q(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==2 && " + StateIs(kWheel, "FILTER_SLOT", 1), 10));
}

TEST_F(IndiTest, RenamingAFilterWritesTheControllersMemory) {
    Start();
    ASSERT_TRUE(Connect(kWheel));
    const std::string memory = sim->dir().file("eeprom.bin");
    ASSERT_EQ(NameInMemory(memory, 1), "R");
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_NAME.FILTER_SLOT_NAME_2=Rc")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_NAME", 1), 10));
    EXPECT_EQ(Get(Dev(kWheel, "FILTER_NAME.FILTER_SLOT_NAME_2")), "Rc");
    EXPECT_EQ(NameInMemory(memory, 1), "Rc");
    EXPECT_EQ(NameInMemory(memory, 0), "L");

    // More than the controller's 8 bytes: refused, nothing written.
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_NAME.FILTER_SLOT_NAME_3=Hydrogen-alpha")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_NAME", 3), 5));
    EXPECT_EQ(NameInMemory(memory, 2), "G");
}

TEST_F(IndiTest, StatusReadsKeepAnsweringDuringAFilterMove) {
    Start();
    sim->control("set move-ms 1500");
    ASSERT_TRUE(Connect(kWheel));
    ASSERT_TRUE(Connect(kFocuser));
    // 1 -> 4 is three slots: about 4.5 s of wheel move; the reads below take the first 2 s.
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE=4")));
    ASSERT_TRUE(Eval(StateIs(kWheel, "FILTER_SLOT", 2), 3));
    const auto start = Clock::now();
    int reads = 0;
    while (Clock::now() - start < 2s) {
        const auto before = Clock::now();
        EXPECT_EQ(Get(Dev(kWheel, "FILTER_SLOT._STATE"), 2), "Busy") << Seconds(Clock::now() - start) << " s into the move";
        EXPECT_FALSE(Get(Dev(kFocuser, "FOCUS_TEMPERATURE.TEMPERATURE"), 2).empty());
        EXPECT_FALSE(Get(Dev(kFocuser, "SUPPLY_VOLTAGE.VOLTAGE"), 2).empty());
        EXPECT_LT(Clock::now() - before, 1500ms) << "a read waited for the move";
        ++reads;
    }
    EXPECT_GE(reads, 3);
    EXPECT_TRUE(Eval(Q(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==4 && " + StateIs(kWheel, "FILTER_SLOT", 1), 15));
}

TEST_F(IndiTest, ASilentControllerTurnsTheMoveAndTheReadingsAlertInsteadOfLeavingThemBusy) {
    Start();
    ASSERT_TRUE(Connect(kWheel));
    ASSERT_TRUE(Connect(kFocuser));
    EXPECT_EQ(Get(Dev(kFocuser, "FOCUS_TEMPERATURE._STATE")), "Ok");
    sim->control("fault silent");
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE=3")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_SLOT", 2), 3));
    // Two slots: the wheel's time-out is 2 x 1000 + 5000 ms, and the move is tried twice.
    EXPECT_TRUE(Eval(StateIs(kWheel, "FILTER_SLOT", 3), 25));
    EXPECT_EQ(Get(Dev(kWheel, "CONNECTION.CONNECT")), "On");
    // By now the last answer is more than 10 s old: readings say so instead of showing old values.
    EXPECT_TRUE(Eval(StateIs(kFocuser, "FOCUS_TEMPERATURE", 3) + " && " + StateIs(kFocuser, "SUPPLY_VOLTAGE", 3), 5));
    sim->control("fault none");
    EXPECT_TRUE(Eval(StateIs(kFocuser, "FOCUS_TEMPERATURE", 1), 5));
}

TEST_F(IndiTest, TwoDevicesShareTheLinkAndOneLeavingKeepsTheOtherWorking) {
    Start();
    const auto messages = WatchMessages();
    sim->control("set move-ms 100");
    ASSERT_TRUE(Connect(kWheel));
    ASSERT_TRUE(Connect(kFocuser));
    ASSERT_TRUE(Disconnect(kFocuser));
    EXPECT_EQ(Get(Dev(kFocuser, "CONNECTION.CONNECT")), "Off");
    EXPECT_EQ(Get(Dev(kWheel, "CONNECTION.CONNECT")), "On");
    ASSERT_TRUE(Set(Dev(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE=5")));
    EXPECT_TRUE(Eval(Q(kWheel, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==5 && " + StateIs(kWheel, "FILTER_SLOT", 1), 10));
    // The last one lets go: the port is free for another program again.
    ASSERT_TRUE(Disconnect(kWheel));
    const int fd = ::open(sim->ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the driver still holds the port";
    ::close(fd);
    EXPECT_EQ(messages->CountMessages(kWheel, "has closed"), 0) << "its own disconnection reported as a lost link";
    EXPECT_EQ(messages->CountMessages(kWheel, "Disconnected"), 1);
}

TEST_F(IndiTest, ADeviceWhoseModeDoesNotFitIsRefusedAndConnectsNothing) {
    Start();  // a wheel with 7 filters
    const auto messages = WatchMessages();
    for (const char* device : {kRotator, kCover, kFocuser2}) {
        ASSERT_TRUE(Set(Dev(device, "DEVICE_PORT.PORT=" + sim->ttyPath())));
        ASSERT_TRUE(Set(Dev(device, "CONNECTION.CONNECT=On")));
        EXPECT_TRUE(Eval(StateIs(device, "CONNECTION", 3), 10)) << device;
        EXPECT_EQ(Get(Dev(device, "CONNECTION.CONNECT")), "Off") << device;
        EXPECT_EQ(messages->CountMessages(device, "the controller is in filter wheel (7 filters) mode"), 1) << device;
    }
    EXPECT_EQ(messages->CountMessages(kRotator, "needs rotator mode"), 1);
    EXPECT_EQ(messages->CountMessages(kCover, "needs cover mode"), 1);
    // Nothing holds the port after the refusals.
    const int fd = ::open(sim->ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    ASSERT_TRUE(Connect(kWheel));
}

TEST_F(IndiTest, APortHeldByAnotherProgramTurnsTheConnectionAlert) {
    Start();
    const auto messages = WatchMessages();
    const int fd = ::open(sim->ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // as the operator window holds it
    ASSERT_TRUE(Set(Dev(kWheel, "DEVICE_PORT.PORT=" + sim->ttyPath())));
    ASSERT_TRUE(Set(Dev(kWheel, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "CONNECTION", 3), 10));
    EXPECT_EQ(Get(Dev(kWheel, "CONNECTION.CONNECT")), "Off");
    EXPECT_TRUE(messages->WaitFor("is in use by another program", 2s));
    EXPECT_EQ(messages->CountMessages(kWheel, "in use by another program"), 1);
    ::close(fd);
    EXPECT_TRUE(Connect(kWheel));
}

TEST_F(IndiTest, AControllerThatDoesNotAnswerTurnsTheConnectionAlert) {
    Start({"--fault", "silent"});
    const auto messages = WatchMessages();
    ASSERT_TRUE(Set(Dev(kWheel, "DEVICE_PORT.PORT=" + sim->ttyPath())));
    ASSERT_TRUE(Set(Dev(kWheel, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kWheel, "CONNECTION", 3), 20));
    EXPECT_EQ(Get(Dev(kWheel, "CONNECTION.CONNECT")), "Off");
    EXPECT_EQ(messages->CountMessages(kWheel, "No controller answers on " + sim->ttyPath()), 1);
    // A missing port is named as such.
    ASSERT_TRUE(Set(Dev(kWheel, "DEVICE_PORT.PORT=/dev/velq3-no-such-port")));
    ASSERT_TRUE(Set(Dev(kWheel, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(messages->WaitFor("/dev/velq3-no-such-port does not exist", 10s));
}

// ---- the focusers ----

TEST_F(IndiTest, FocuserMovesToAbsoluteAndRelativePositions) {
    Start();
    ASSERT_TRUE(Connect(kFocuser));
    EXPECT_EQ(GetNumber(Dev(kFocuser, "FOCUS_MAX.FOCUS_MAX_VALUE")), 30000);
    ASSERT_TRUE(Set(Dev(kFocuser, "POLLING_PERIOD.PERIOD_MS=250")));

    ASSERT_TRUE(Set(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=12000")));
    EXPECT_TRUE(Eval(Q(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==12000 && " +
                         StateIs(kFocuser, "ABS_FOCUS_POSITION", 1),
                     10));
    ASSERT_TRUE(Set(Dev(kFocuser, "FOCUS_MOTION.FOCUS_INWARD=On")));
    ASSERT_TRUE(Set(Dev(kFocuser, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=500")));
    EXPECT_TRUE(Eval(Q(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==11500 && " +
                         StateIs(kFocuser, "ABS_FOCUS_POSITION", 1) + " && " + StateIs(kFocuser, "REL_FOCUS_POSITION", 1),
                     10));
    ASSERT_TRUE(Set(Dev(kFocuser, "FOCUS_MOTION.FOCUS_OUTWARD=On")));
    ASSERT_TRUE(Set(Dev(kFocuser, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=1500")));
    EXPECT_TRUE(Eval(Q(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==13000 && " +
                         StateIs(kFocuser, "ABS_FOCUS_POSITION", 1),
                     10));
    // The simulator's own count, read back by the status query: device step 3000.
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(GetNumber(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 13000);
    sim->control("set focus 0 4321");
    EXPECT_TRUE(Eval(Q(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==14321", 5));
}

TEST_F(IndiTest, FocuserRefusesPositionsOutsideItsLimitsWithoutMoving) {
    Start();
    ASSERT_TRUE(Connect(kFocuser));
    ASSERT_TRUE(Set(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=10200")));
    ASSERT_TRUE(Eval(StateIs(kFocuser, "ABS_FOCUS_POSITION", 1) + " && " +
                         Q(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==10200",
                     10));
    ASSERT_TRUE(Set(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=40000")));
    EXPECT_TRUE(Eval(StateIs(kFocuser, "ABS_FOCUS_POSITION", 3), 5));
    ASSERT_TRUE(Set(Dev(kFocuser, "FOCUS_MOTION.FOCUS_INWARD=On")));
    ASSERT_TRUE(Set(Dev(kFocuser, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=20000")));
    EXPECT_TRUE(Eval(StateIs(kFocuser, "REL_FOCUS_POSITION", 3), 5));
    std::this_thread::sleep_for(1500ms);  // a status query later the motor has not moved
    EXPECT_EQ(GetNumber(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 10200);
}

TEST_F(IndiTest, FocuserReportsTheSensorsAndSwitchesCompensation) {
    Start();
    sim->control("set temp 0 1250");
    sim->control("set volt 1210");
    sim->control("set sw 5");
    ASSERT_TRUE(Connect(kFocuser));
    EXPECT_TRUE(Eval(Q(kFocuser, "FOCUS_TEMPERATURE.TEMPERATURE") + "==12.5", 5));
    EXPECT_NEAR(GetNumber(Dev(kFocuser, "TEMPERATURES.TEMPERATURE_1")), 12.5, 0.01);
    EXPECT_NEAR(GetNumber(Dev(kFocuser, "SUPPLY_VOLTAGE.VOLTAGE")), 12.1, 0.01);
    EXPECT_EQ(Get(Dev(kFocuser, "OUTPUTS.OUTPUT_1")), "Ok");
    EXPECT_EQ(Get(Dev(kFocuser, "OUTPUTS.OUTPUT_2")), "Idle");
    EXPECT_EQ(Get(Dev(kFocuser, "OUTPUTS.OUTPUT_3")), "Ok");
    EXPECT_EQ(Get(Dev(kFocuser, "TEMPERATURES._GROUP")), "Sensors");
    // Without a preferred thermometer the controller cannot compensate: refused.
    ASSERT_TRUE(Set(Dev(kFocuser, "FOCUS_TEMPERATURE_COMPENSATION.INDI_ENABLED=On")));
    EXPECT_TRUE(Eval(StateIs(kFocuser, "FOCUS_TEMPERATURE_COMPENSATION", 3), 5));
    EXPECT_EQ(Get(Dev(kFocuser, "FOCUS_TEMPERATURE_COMPENSATION.INDI_DISABLED")), "On");
}

TEST_F(IndiTest, SecondFocuserMovesTheSecondMotor) {
    Start({"--mode", "0"});
    ASSERT_TRUE(Connect(kFocuser2));
    ASSERT_TRUE(Connect(kFocuser));
    ASSERT_TRUE(Set(Dev(kFocuser2, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=10750")));
    EXPECT_TRUE(Eval(Q(kFocuser2, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==10750 && " +
                         StateIs(kFocuser2, "ABS_FOCUS_POSITION", 1),
                     10));
    EXPECT_NE(GetNumber(Dev(kFocuser, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 10750);
}

// ---- rotator and cover ----

TEST_F(IndiTest, RotatorSyncsMovesAndKeepsItsOffsetInTheConfig) {
    Start({"--mode", "-1"});
    ASSERT_TRUE(Connect(kRotator));
    // 240 steps per turn in the simulator's memory: 1.5 degrees per step.
    const double before = GetNumber(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE"));
    EXPECT_NEAR(before, 0, 1.5);
    ASSERT_TRUE(Set(Dev(kRotator, "SYNC_ROTATOR_ANGLE.ANGLE=100")));
    EXPECT_TRUE(Eval(StateIs(kRotator, "SYNC_ROTATOR_ANGLE", 1), 5));
    EXPECT_NEAR(GetNumber(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE")), 100, 0.01);
    EXPECT_NEAR(GetNumber(Dev(kRotator, "ROTATOR_SYNC_OFFSET.OFFSET")), 100 - before, 0.01);

    ASSERT_TRUE(Set(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE=160")));
    EXPECT_TRUE(Eval(StateIs(kRotator, "ABS_ROTATOR_ANGLE", 1), 15));
    EXPECT_NEAR(GetNumber(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE")), 160, 1.5);
    ASSERT_TRUE(Set(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE=400")));
    EXPECT_TRUE(Eval(StateIs(kRotator, "ABS_ROTATOR_ANGLE", 3), 5));

    // CONFIG_SAVE keeps the port and the offset; a new driver process reads them back.
    ASSERT_TRUE(Set(Dev(kRotator, "CONFIG_PROCESS.CONFIG_SAVE=On")));
    EXPECT_TRUE(Eval(StateIs(kRotator, "CONFIG_PROCESS", 1), 5));
    StopServer();
    StartServer();
    EXPECT_NEAR(GetNumber(Dev(kRotator, "ROTATOR_SYNC_OFFSET.OFFSET")), 100 - before, 0.01);
    EXPECT_EQ(Get(Dev(kRotator, "DEVICE_PORT.PORT")), sim->ttyPath());
    ASSERT_TRUE(Set(Dev(kRotator, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kRotator, "CONNECTION", 1), 10));
    EXPECT_NEAR(GetNumber(Dev(kRotator, "ABS_ROTATOR_ANGLE.ANGLE")), 160, 1.5);
}

TEST_F(IndiTest, CoverOpensOnUnparkAndClosesOnPark) {
    Start({"--mode", "-2"});
    ASSERT_TRUE(Connect(kCover));
    EXPECT_EQ(Get(Dev(kCover, "COVER_STATUS.STATUS")), "Closed");
    EXPECT_EQ(Get(Dev(kCover, "CAP_PARK.PARK")), "On");
    ASSERT_TRUE(Set(Dev(kCover, "CAP_PARK.UNPARK=On")));
    EXPECT_TRUE(Eval(Q(kCover, "CAP_PARK.UNPARK") + "==1 && " + StateIs(kCover, "CAP_PARK", 1), 15));
    EXPECT_EQ(Get(Dev(kCover, "COVER_STATUS.STATUS")), "Open");
    EXPECT_EQ(Get(Dev(kCover, "COVER_ENDSTOPS.OPEN")), "Ok");
    ASSERT_TRUE(Set(Dev(kCover, "CAP_PARK.PARK=On")));
    EXPECT_TRUE(Eval(Q(kCover, "CAP_PARK.PARK") + "==1 && " + StateIs(kCover, "CAP_PARK", 1), 15));
    EXPECT_EQ(Get(Dev(kCover, "COVER_STATUS.STATUS")), "Closed");
    EXPECT_EQ(Get(Dev(kCover, "COVER_ENDSTOPS.CLOSED")), "Ok");
}

// A cover without end-stops on a controller whose status never carries the second motor
// (16-byte blocks): its position is unknown, so its state is shown as unknown with an alert,
// never as open or closed made of the marker.
TEST_F(IndiTest, ACoverWithoutEndStopsAndAnUnknownPositionShowsUnknown) {
    TempDir memory;
    const std::string eeprom = memory.file("eeprom.bin");
    { SimProcess once({"--mode", "-2", "--eeprom", eeprom}); }  // writes the default memory
    {
        std::fstream f(eeprom, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f);
        f.seekp(6);  // "Cover has endstop sensors"
        f.put('\0');
    }
    Start({"--mode", "-2", "--all-len", "16", "--eeprom", eeprom});
    ASSERT_TRUE(Connect(kCover));
    EXPECT_TRUE(Eval(StateIs(kCover, "COVER_STATUS", 3), 10));
    EXPECT_EQ(Get(Dev(kCover, "COVER_STATUS.STATUS")), "Unknown");
    EXPECT_TRUE(Eval(StateIs(kCover, "CAP_PARK", 3), 10));
}

}  // namespace
}  // namespace velq3::test
