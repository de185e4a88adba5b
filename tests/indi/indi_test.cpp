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

TEST_F(IndiTest, WheelShowsTheControllersFiltersAndMovesBusyThenOk) {
    Start();
    sim->control("set move-ms 300");
    ASSERT_TRUE(Connect(kMain));
    EXPECT_EQ(Get(Dev(kMain, "FILTER_NAME.FILTER_SLOT_NAME_1")), "L");
    EXPECT_EQ(Get(Dev(kMain, "FILTER_NAME.FILTER_SLOT_NAME_7")), "SII");
    EXPECT_EQ(Get(Dev(kMain, "FILTER_FOCUS_OFFSETS.OFFSET_2")), "35");
    EXPECT_EQ(GetNumber(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE")), 1);
    ASSERT_TRUE(Set(Dev(kMain, "POLLING_PERIOD.PERIOD_MS=250")));

    // The request reaches the driver through indiserver while the next client connects, so
    // Busy is awaited rather than read once; the 600 ms move leaves it in view.
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE=3")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_SLOT", 2), 2));
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==3 && " + StateIs(kMain, "FILTER_SLOT", 1), 10));
    // Later status queries read the simulator's own position (slot 2 counted from 0).
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(GetNumber(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE")), 3);
    sim->control("set wheel 5");
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==6", 5));
}

TEST_F(IndiTest, WheelRefusesSlotsOutsideTheWheelWithAlert) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    for (const char* slot : {"8", "0", "2.5"}) {
        ASSERT_TRUE(Set(Dev(kMain, std::string("FILTER_SLOT.FILTER_SLOT_VALUE=") + slot)));
        EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_SLOT", 3), 5)) << slot;
        EXPECT_EQ(GetNumber(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE")), 1) << slot;
    }
    // A good request after the refusals works.
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE=2")));
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==2 && " + StateIs(kMain, "FILTER_SLOT", 1), 10));
}

TEST_F(IndiTest, RenamingAFilterWritesTheControllersMemory) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    const std::string memory = sim->dir().file("eeprom.bin");
    ASSERT_EQ(NameInMemory(memory, 1), "R");
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_NAME.FILTER_SLOT_NAME_2=Rc")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_NAME", 1), 10));
    EXPECT_EQ(Get(Dev(kMain, "FILTER_NAME.FILTER_SLOT_NAME_2")), "Rc");
    EXPECT_EQ(NameInMemory(memory, 1), "Rc");
    EXPECT_EQ(NameInMemory(memory, 0), "L");

    // More than the controller's 8 bytes: refused, nothing written.
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_NAME.FILTER_SLOT_NAME_3=Hydrogen-alpha")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_NAME", 3), 5));
    EXPECT_EQ(NameInMemory(memory, 2), "G");
}

TEST_F(IndiTest, StatusReadsKeepAnsweringDuringAFilterMove) {
    Start();
    sim->control("set move-ms 1500");
    ASSERT_TRUE(Connect(kMain));
    // 1 -> 4 is three slots: about 4.5 s of wheel move; the reads below take the first 2 s.
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE=4")));
    ASSERT_TRUE(Eval(StateIs(kMain, "FILTER_SLOT", 2), 3));
    const auto start = Clock::now();
    int reads = 0;
    while (Clock::now() - start < 2s) {
        const auto before = Clock::now();
        EXPECT_EQ(Get(Dev(kMain, "FILTER_SLOT._STATE"), 2), "Busy") << Seconds(Clock::now() - start) << " s into the move";
        EXPECT_FALSE(Get(Dev(kMain, "FOCUS_TEMPERATURE.TEMPERATURE"), 2).empty());
        EXPECT_FALSE(Get(Dev(kMain, "SUPPLY_VOLTAGE.VOLTAGE"), 2).empty());
        EXPECT_LT(Clock::now() - before, 1500ms) << "a read waited for the move";
        ++reads;
    }
    EXPECT_GE(reads, 3);
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==4 && " + StateIs(kMain, "FILTER_SLOT", 1), 15));
}

TEST_F(IndiTest, ASilentControllerTurnsTheMoveAndTheReadingsAlertInsteadOfLeavingThemBusy) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    EXPECT_EQ(Get(Dev(kMain, "FOCUS_TEMPERATURE._STATE")), "Ok");
    sim->control("fault silent");
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE=3")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_SLOT", 2), 3));
    // Two slots: the wheel's time-out is 2 x 1000 + 5000 ms, and the move is tried twice.
    EXPECT_TRUE(Eval(StateIs(kMain, "FILTER_SLOT", 3), 25));
    EXPECT_EQ(Get(Dev(kMain, "CONNECTION.CONNECT")), "On");
    // By now the last answer is more than 10 s old: readings say so instead of showing old values.
    EXPECT_TRUE(Eval(StateIs(kMain, "FOCUS_TEMPERATURE", 3) + " && " + StateIs(kMain, "SUPPLY_VOLTAGE", 3), 5));
    sim->control("fault none");
    EXPECT_TRUE(Eval(StateIs(kMain, "FOCUS_TEMPERATURE", 1), 5));
}

TEST_F(IndiTest, TwoDevicesShareTheLinkAndOneLeavingKeepsTheOtherWorking) {
    Start({"--mode", "0"});
    const auto messages = WatchMessages();
    sim->control("set move-ms 100");
    ASSERT_TRUE(Connect(kMain));
    // The second focuser is offered once the connection read the mode; it shares the port.
    ASSERT_TRUE(Eval(Q(kFocuser2, "CONNECTION.CONNECT") + "==0", 5));
    EXPECT_EQ(Get(Dev(kFocuser2, "DEVICE_PORT.PORT")), sim->ttyPath());
    ASSERT_TRUE(Set(Dev(kFocuser2, "CONNECTION.CONNECT=On")));
    ASSERT_TRUE(Eval(StateIs(kFocuser2, "CONNECTION", 1), 10));
    ASSERT_TRUE(Disconnect(kMain));
    EXPECT_EQ(Get(Dev(kMain, "CONNECTION.CONNECT")), "Off");
    ASSERT_TRUE(Set(Dev(kFocuser2, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=10500")));
    EXPECT_TRUE(Eval(Q(kFocuser2, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==10500 && " +
                         StateIs(kFocuser2, "ABS_FOCUS_POSITION", 1),
                     10));
    // The last one lets go: the port is free for another program again.
    ASSERT_TRUE(Disconnect(kFocuser2));
    const int fd = ::open(sim->ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the driver still holds the port";
    ::close(fd);
    EXPECT_EQ(messages->CountMessages(kMain, "has closed"), 0) << "its own disconnection reported as a lost link";
    EXPECT_EQ(messages->CountMessages(kMain, "Disconnected"), 1);
}

TEST_F(IndiTest, APortHeldByAnotherProgramTurnsTheConnectionAlert) {
    Start();
    const auto messages = WatchMessages();
    const int fd = ::open(sim->ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // as the operator window holds it
    ASSERT_TRUE(Set(Dev(kMain, "DEVICE_PORT.PORT=" + sim->ttyPath())));
    ASSERT_TRUE(Set(Dev(kMain, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "CONNECTION", 3), 10));
    EXPECT_EQ(Get(Dev(kMain, "CONNECTION.CONNECT")), "Off");
    EXPECT_TRUE(messages->WaitFor("is in use by another program", 2s));
    EXPECT_EQ(messages->CountMessages(kMain, "in use by another program"), 1);
    ::close(fd);
    EXPECT_TRUE(Connect(kMain));
}

TEST_F(IndiTest, AControllerThatDoesNotAnswerTurnsTheConnectionAlert) {
    Start({"--fault", "silent"});
    const auto messages = WatchMessages();
    ASSERT_TRUE(Set(Dev(kMain, "DEVICE_PORT.PORT=" + sim->ttyPath())));
    ASSERT_TRUE(Set(Dev(kMain, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "CONNECTION", 3), 20));
    EXPECT_EQ(Get(Dev(kMain, "CONNECTION.CONNECT")), "Off");
    EXPECT_EQ(messages->CountMessages(kMain, "No controller answers on " + sim->ttyPath()), 1);
    // A missing port is named as such.
    ASSERT_TRUE(Set(Dev(kMain, "DEVICE_PORT.PORT=/dev/velq3-no-such-port")));
    ASSERT_TRUE(Set(Dev(kMain, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(messages->WaitFor("/dev/velq3-no-such-port does not exist", 10s));
}

// ---- the focusers ----

TEST_F(IndiTest, FocuserMovesToAbsoluteAndRelativePositions) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    EXPECT_EQ(GetNumber(Dev(kMain, "FOCUS_MAX.FOCUS_MAX_VALUE")), 30000);
    ASSERT_TRUE(Set(Dev(kMain, "POLLING_PERIOD.PERIOD_MS=250")));

    ASSERT_TRUE(Set(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=12000")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==12000 && " +
                         StateIs(kMain, "ABS_FOCUS_POSITION", 1),
                     10));
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_MOTION.FOCUS_INWARD=On")));
    ASSERT_TRUE(Set(Dev(kMain, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=500")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==11500 && " +
                         StateIs(kMain, "ABS_FOCUS_POSITION", 1) + " && " + StateIs(kMain, "REL_FOCUS_POSITION", 1),
                     10));
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_MOTION.FOCUS_OUTWARD=On")));
    ASSERT_TRUE(Set(Dev(kMain, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=1500")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==13000 && " +
                         StateIs(kMain, "ABS_FOCUS_POSITION", 1),
                     10));
    // The simulator's own count, read back by the status query: device step 3000.
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(GetNumber(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 13000);
    sim->control("set focus 0 4321");
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==14321", 5));
}

TEST_F(IndiTest, FocuserRefusesPositionsOutsideItsLimitsWithoutMoving) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    ASSERT_TRUE(Set(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=10200")));
    ASSERT_TRUE(Eval(StateIs(kMain, "ABS_FOCUS_POSITION", 1) + " && " +
                         Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==10200",
                     10));
    ASSERT_TRUE(Set(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=40000")));
    EXPECT_TRUE(Eval(StateIs(kMain, "ABS_FOCUS_POSITION", 3), 5));
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_MOTION.FOCUS_INWARD=On")));
    ASSERT_TRUE(Set(Dev(kMain, "REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=20000")));
    EXPECT_TRUE(Eval(StateIs(kMain, "REL_FOCUS_POSITION", 3), 5));
    std::this_thread::sleep_for(1500ms);  // a status query later the motor has not moved
    EXPECT_EQ(GetNumber(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 10200);
}

TEST_F(IndiTest, FocuserReportsTheSensorsAndSwitchesCompensation) {
    Start();
    sim->control("set temp 0 1250");
    sim->control("set volt 1210");
    sim->control("set sw 5");
    ASSERT_TRUE(Connect(kMain));
    EXPECT_TRUE(Eval(Q(kMain, "FOCUS_TEMPERATURE.TEMPERATURE") + "==12.5", 5));
    EXPECT_NEAR(GetNumber(Dev(kMain, "TEMPERATURES.TEMPERATURE_1")), 12.5, 0.01);
    EXPECT_NEAR(GetNumber(Dev(kMain, "SUPPLY_VOLTAGE.VOLTAGE")), 12.1, 0.01);
    EXPECT_EQ(Get(Dev(kMain, "OUTPUTS.OUTPUT_1")), "Ok");
    EXPECT_EQ(Get(Dev(kMain, "OUTPUTS.OUTPUT_2")), "Idle");
    EXPECT_EQ(Get(Dev(kMain, "OUTPUTS.OUTPUT_3")), "Ok");
    EXPECT_EQ(Get(Dev(kMain, "TEMPERATURES._GROUP")), "Sensors");
    // Without a preferred thermometer the controller cannot compensate: refused.
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_TEMPERATURE_COMPENSATION.INDI_ENABLED=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FOCUS_TEMPERATURE_COMPENSATION", 3), 5));
    EXPECT_EQ(Get(Dev(kMain, "FOCUS_TEMPERATURE_COMPENSATION.INDI_DISABLED")), "On");
}

// ---- rotator and cover ----

TEST_F(IndiTest, RotatorSyncsMovesAndKeepsItsOffsetInTheConfig) {
    Start({"--mode", "-1"});
    ASSERT_TRUE(Connect(kMain));
    // 240 steps per turn in the simulator's memory: 1.5 degrees per step.
    const double before = GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE"));
    EXPECT_NEAR(before, 0, 1.5);
    ASSERT_TRUE(Set(Dev(kMain, "SYNC_ROTATOR_ANGLE.ANGLE=100")));
    EXPECT_TRUE(Eval(StateIs(kMain, "SYNC_ROTATOR_ANGLE", 1), 5));
    EXPECT_NEAR(GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE")), 100, 0.01);
    EXPECT_NEAR(GetNumber(Dev(kMain, "ROTATOR_SYNC_OFFSET.OFFSET")), 100 - before, 0.01);

    ASSERT_TRUE(Set(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE=160")));
    EXPECT_TRUE(Eval(StateIs(kMain, "ABS_ROTATOR_ANGLE", 1), 15));
    EXPECT_NEAR(GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE")), 160, 1.5);
    ASSERT_TRUE(Set(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE=400")));
    EXPECT_TRUE(Eval(StateIs(kMain, "ABS_ROTATOR_ANGLE", 3), 5));

    // CONFIG_SAVE keeps the port and the offset; a new driver process reads them back.
    ASSERT_TRUE(Set(Dev(kMain, "CONFIG_PROCESS.CONFIG_SAVE=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "CONFIG_PROCESS", 1), 5));
    StopServer();
    StartServer();
    EXPECT_EQ(Get(Dev(kMain, "DEVICE_PORT.PORT")), sim->ttyPath());
    ASSERT_TRUE(Set(Dev(kMain, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "CONNECTION", 1), 10));
    EXPECT_NEAR(GetNumber(Dev(kMain, "ROTATOR_SYNC_OFFSET.OFFSET")), 100 - before, 0.01);
    EXPECT_NEAR(GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE")), 160, 1.5);
}

TEST_F(IndiTest, CoverOpensOnUnparkAndClosesOnPark) {
    Start({"--mode", "-2"});
    ASSERT_TRUE(Connect(kMain));
    EXPECT_EQ(Get(Dev(kMain, "COVER_STATUS.STATUS")), "Closed");
    EXPECT_EQ(Get(Dev(kMain, "CAP_PARK.PARK")), "On");
    ASSERT_TRUE(Set(Dev(kMain, "CAP_PARK.UNPARK=On")));
    EXPECT_TRUE(Eval(Q(kMain, "CAP_PARK.UNPARK") + "==1 && " + StateIs(kMain, "CAP_PARK", 1), 15));
    EXPECT_EQ(Get(Dev(kMain, "COVER_STATUS.STATUS")), "Open");
    EXPECT_EQ(Get(Dev(kMain, "COVER_ENDSTOPS.OPEN")), "Ok");
    ASSERT_TRUE(Set(Dev(kMain, "CAP_PARK.PARK=On")));
    EXPECT_TRUE(Eval(Q(kMain, "CAP_PARK.PARK") + "==1 && " + StateIs(kMain, "CAP_PARK", 1), 15));
    EXPECT_EQ(Get(Dev(kMain, "COVER_STATUS.STATUS")), "Closed");
    EXPECT_EQ(Get(Dev(kMain, "COVER_ENDSTOPS.CLOSED")), "Ok");
}

// A cover without end-stops on a controller whose status never carries the second motor
// (16-byte blocks): its position is unknown, so its state is shown as unknown, never as open or
// closed made of the marker.
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
    ASSERT_TRUE(Connect(kMain));
    // Not a fault: Idle, and the text says what to do.
    EXPECT_TRUE(Eval(StateIs(kMain, "COVER_STATUS", 0), 10));
    EXPECT_EQ(Get(Dev(kMain, "COVER_STATUS.STATUS")), "Unknown: open or close the cover once");
    EXPECT_TRUE(Eval(StateIs(kMain, "CAP_PARK", 0), 10));
    std::this_thread::sleep_for(1500ms);  // later status reports keep it so
    EXPECT_EQ(Get(Dev(kMain, "CAP_PARK._STATE")), "Idle");
}

}  // namespace
}  // namespace velq3::test

namespace velq3::test {
namespace {

std::string Dev(const std::string& device, const std::string& rest) { return device + "." + rest; }

// A client's request for one number, as raw XML with the element's text as given.
std::string NumberRequest(const std::string& device, const std::string& property, const std::string& element,
                          const std::string& text) {
    return "<newNumberVector device='" + device + "' name='" + property + "'><oneNumber name='" + element + "'>" + text +
           "</oneNumber></newNumberVector>\n";
}

// ---- one device for the controller, its interfaces by mode ----

TEST_F(IndiTest, OneDeviceNamedByIndidevOffersTheInterfacesOfTheControllersMode) {
    // FOCUSER 8, FILTER 16, DUSTCAP 512, ROTATOR 4096, AUX 32768.
    struct Case {
        const char* mode;
        const char* indidev;  // nullptr: unset
        const char* interfaces;
        const char* present;  // a property of the mode's part
        std::vector<const char*> absent;
        bool focuser2;
    };
    const Case cases[] = {
        {"7", nullptr, "32792", "FILTER_SLOT", {"ABS_ROTATOR_ANGLE", "CAP_PARK", "ROTATOR_SYNC_OFFSET"}, false},
        {"0", "Ekos Focuser", "32776", "ABS_FOCUS_POSITION", {"FILTER_SLOT", "ABS_ROTATOR_ANGLE", "CAP_PARK"}, true},
        {"-1", nullptr, "36872", "ABS_ROTATOR_ANGLE", {"FILTER_SLOT", "CAP_PARK"}, false},
        {"-2", "VELQ3 Focuser", "33288", "CAP_PARK", {"FILTER_SLOT", "ABS_ROTATOR_ANGLE"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("mode ") + c.mode);
        StopServer();
        NameMainDevice(c.indidev);
        Start({"--mode", c.mode});
        const std::string main = Main();
        // One device before connecting, a focuser with a filter wheel.
        EXPECT_EQ(ListOnce("*.DRIVER_INFO.DRIVER_NAME"), main + ".DRIVER_INFO.DRIVER_NAME=VELQ3\n");
        EXPECT_EQ(Get(Dev(main, "DRIVER_INFO.DRIVER_INTERFACE")), "32792");
        ASSERT_TRUE(Connect(main));
        // A text: read until it changes (indi_eval reads numbers only).
        const auto interfaces = [&](const std::string& device) { return Get(Dev(device, "DRIVER_INFO.DRIVER_INTERFACE")); };
        EXPECT_EQ(WaitFor([&] { return interfaces(main); }, std::string(c.interfaces), 5), c.interfaces);
        const std::string all = List(main + ".*.*");
        const auto has = [&](const std::string& property) { return all.find(main + "." + property + ".") != std::string::npos; };
        EXPECT_TRUE(has(c.present)) << all;
        for (const char* absent : c.absent) EXPECT_FALSE(has(absent)) << absent;
        if (c.focuser2) {
            const std::string second = main + " Focuser 2";
            EXPECT_EQ(WaitFor([&] { return interfaces(second); }, std::string("8"), 5), "8");
            EXPECT_EQ(Get(Dev(second, "DEVICE_PORT.PORT")), sim->ttyPath());
            ASSERT_TRUE(Set(Dev(second, "CONNECTION.CONNECT=On")));
            ASSERT_TRUE(Eval(StateIs(second, "CONNECTION", 1), 10));
            const auto messages = WatchMessages();
            ASSERT_TRUE(Set(Dev(second, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=10750")));
            EXPECT_TRUE(messages->WaitFor("Focuser at position 10750", 10s));
            // indi_eval cannot name an element this long (64 characters at most): read it instead.
            const auto position = [&] { return GetNumber(Dev(second, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")); };
            EXPECT_EQ(WaitFor(position, 10750.0, 5), 10750.0);
            EXPECT_EQ(Get(Dev(second, "ABS_FOCUS_POSITION._STATE")), "Ok");
            // The second motor's own position, as the status reports it.
            sim->control("set focus 1 4321");
            EXPECT_EQ(WaitFor(position, 14321.0, 5), 14321.0);
            EXPECT_NE(GetNumber(Dev(main, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION")), 10750);
        }
        const std::string names = ListOnce("*.DRIVER_INFO.DRIVER_NAME");
        EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), c.focuser2 ? 2 : 1) << names;
        StopServer();
        sim.reset();
    }
}

// ---- the standard properties ----

TEST_F(IndiTest, StandardPropertiesAreThereWithTheirPermissions) {
    Start();
    ASSERT_TRUE(Connect(kMain));
    const std::pair<const char*, const char*> perms[] = {
        {"FOCUS_MAX", "rw"},          {"FOCUS_SYNC", "rw"},          {"FOCUS_ABORT_MOTION", "rw"},
        {"FOCUS_MOTION", "rw"},       {"REL_FOCUS_POSITION", "rw"},  {"ABS_FOCUS_POSITION", "rw"},
        {"FOCUS_TEMPERATURE", "ro"},  {"FILTER_SLOT", "rw"},         {"FILTER_NAME", "rw"},
        {"FILTER_FOCUS_OFFSETS", "ro"}, {"DEVICE_PORT", "rw"},       {"SYSTEM_PORTS", "rw"},
        {"FOCUS_TEMPERATURE_COMPENSATION", "rw"}, {"COMPENSATION_THERMOMETER", "rw"},
    };
    for (const auto& [property, perm] : perms) EXPECT_EQ(Get(Dev(kMain, std::string(property) + "._PERM")), perm) << property;
    // The controller cannot run its motors reversed.
    EXPECT_EQ(List(Dev(kMain, "FOCUS_REVERSE_MOTION.*")), "");
    // The chosen port is in the list of ports.
    EXPECT_NE(List(Dev(kMain, "SYSTEM_PORTS.*")).find("=On"), std::string::npos);
}

TEST_F(IndiTest, FocusMaxSyncAndAbortAnswerAsClientsExpect) {
    Start();
    sim->control("set move-ms 1500");
    const auto messages = WatchMessages();
    ASSERT_TRUE(Connect(kMain));
    // FOCUS_MAX is the focusers' maximum position setting: it moves the limit.
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_MAX.FOCUS_MAX_VALUE=35000")));
    EXPECT_TRUE(Eval(Q(kMain, "FOCUS_MAX.FOCUS_MAX_VALUE") + "==35000 && " + StateIs(kMain, "FOCUS_MAX", 1), 5));
    ASSERT_TRUE(Set(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=32000")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==32000 && " +
                         StateIs(kMain, "ABS_FOCUS_POSITION", 1),
                     20));
    // FOCUS_SYNC: the position now reads 1000 without a move, and moves go from there.
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_SYNC.FOCUS_SYNC_VALUE=1000")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==1000", 5));
    EXPECT_EQ(GetNumber(Dev(kMain, "FOCUS_SYNC_OFFSET.OFFSET")), 1000 - 32000);
    // Abort: nothing moves, so nothing to stop.
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_ABORT_MOTION.ABORT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FOCUS_ABORT_MOTION", 1), 5));
    // During a move it cannot stop the motor, and says so.
    ASSERT_TRUE(Set(Dev(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=1500")));
    ASSERT_TRUE(Eval(StateIs(kMain, "ABS_FOCUS_POSITION", 2), 5));
    ASSERT_TRUE(Set(Dev(kMain, "FOCUS_ABORT_MOTION.ABORT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "FOCUS_ABORT_MOTION", 3), 5));
    EXPECT_TRUE(messages->WaitFor("cannot stop a focuser move", 2s));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==1500 && " +
                         StateIs(kMain, "ABS_FOCUS_POSITION", 1),
                     20));
    // The sync offset is kept in the config: a new driver process still reads 1500.
    StopServer();
    StartServer();
    ASSERT_TRUE(Set(Dev(kMain, "CONNECTION.CONNECT=On")));
    EXPECT_TRUE(Eval(Q(kMain, "ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION") + "==1500", 10));
}

// ---- requests that do not fit ----

TEST_F(IndiTest, RequestsThatDoNotFitTurnAlertAndChangeNothing) {
    Start({"--verbose"});
    ASSERT_TRUE(Connect(kMain));
    const auto client = WatchMessages();
    struct Case {
        const char* property;
        const char* element;
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"POLLING_PERIOD", "PERIOD_MS", "nan", "must be a number"},
        {"FILTER_SLOT", "FILTER_SLOT_VALUE", "inf", "must be a number"},
        {"FILTER_SLOT", "NOT_A_SLOT", "4", "has no element NOT_A_SLOT"},
        {"FILTER_SLOT", "FILTER_SLOT_VALUE", "3 garbage", "is not a number"},
        {"FILTER_SLOT", "FILTER_SLOT_VALUE", "12", "out of range"},
        {"ABS_FOCUS_POSITION", "FOCUS_ABSOLUTE_POSITION", "-nan", "must be a number"},
    };
    sim->takeReceived();
    for (const Case& c : cases) {
        client->Send(NumberRequest(kMain, c.property, c.element, c.text));
        EXPECT_TRUE(Eval(StateIs(kMain, c.property, 3), 5)) << c.property << " " << c.text;
        EXPECT_TRUE(client->WaitFor(c.says, 2s)) << c.text;
        // The Alert stays through the next status reports.
        std::this_thread::sleep_for(1200ms);
        EXPECT_EQ(Get(Dev(kMain, std::string(c.property) + "._STATE")), "Alert") << c.text;
    }
    EXPECT_EQ(Get(Dev(kMain, "POLLING_PERIOD.PERIOD_MS")), "1000");
    EXPECT_EQ(GetNumber(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE")), 1);
    for (const std::string& word : sim->takeReceived()) EXPECT_NE(word.rfind("FWGO", 0), 0u) << word;
    // The next good request clears the Alert.
    ASSERT_TRUE(Set(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE=2")));
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==2 && " + StateIs(kMain, "FILTER_SLOT", 1), 10));
}

TEST_F(IndiTest, ABurstOfRequestsEndsInTheNewestAndNothingRunsAfterDisconnecting) {
    Start({"--verbose"});
    sim->control("set move-ms 300");
    ASSERT_TRUE(Connect(kMain));
    const auto client = WatchMessages();
    const auto gotos = [this] {
        int n = 0;
        for (const std::string& word : sim->takeReceived()) n += word == "FWGOTO";
        return n;
    };
    sim->takeReceived();
    std::string burst;
    for (int i = 0; i < 300; ++i) burst += NumberRequest(kMain, "FILTER_SLOT", "FILTER_SLOT_VALUE", std::to_string(2 + i % 5));
    client->Send(burst);  // ends with slot 6
    EXPECT_TRUE(Eval(Q(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE") + "==6 && " + StateIs(kMain, "FILTER_SLOT", 1), 30));
    std::this_thread::sleep_for(1500ms);
    EXPECT_LE(gotos(), 3);
    EXPECT_EQ(GetNumber(Dev(kMain, "FILTER_SLOT.FILTER_SLOT_VALUE")), 6);

    // A burst cut short by a disconnection: no move after it.
    client->Send(burst + "<newSwitchVector device='VELQ3' name='CONNECTION'><oneSwitch name='DISCONNECT'>On</oneSwitch>"
                         "</newSwitchVector>\n");
    ASSERT_TRUE(Eval(StateIs(kMain, "CONNECTION", 0), 10));
    gotos();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(gotos(), 0);

    // A connection asked for while a disconnection is under way (a client changing the port)
    // connects once it has ended.
    ASSERT_TRUE(Connect(kMain));
    const std::string sw = "<newSwitchVector device='VELQ3' name='CONNECTION'><oneSwitch name='";
    client->Send(sw + "DISCONNECT'>On</oneSwitch></newSwitchVector>\n" + sw + "CONNECT'>On</oneSwitch></newSwitchVector>\n");
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(Eval(Q(kMain, "CONNECTION.CONNECT") + "==1 && " + StateIs(kMain, "CONNECTION", 1), 10));
}

// ---- the rotator's direction ----

TEST_F(IndiTest, RotatorReverseLeavesTheAngleWhereItWas) {
    Start({"--mode", "-1"});
    ASSERT_TRUE(Connect(kMain));
    const auto at = [this](double want) {
        return [this, want] {
            return std::fabs(GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE")) - want) < 1.5 &&
                   Get(Dev(kMain, "ABS_ROTATOR_ANGLE._STATE")) == "Ok";
        };
    };
    ASSERT_TRUE(Set(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE=45")));
    ASSERT_TRUE(WaitFor(at(45), true, 15));
    ASSERT_TRUE(Set(Dev(kMain, "SYNC_ROTATOR_ANGLE.ANGLE=0")));
    ASSERT_TRUE(Eval(StateIs(kMain, "SYNC_ROTATOR_ANGLE", 1), 5));
    for (const char* on : {"INDI_ENABLED", "INDI_DISABLED", "INDI_ENABLED"}) {
        ASSERT_TRUE(Set(Dev(kMain, std::string("ROTATOR_REVERSE.") + on + "=On")));
        ASSERT_TRUE(Eval(Q(kMain, std::string("ROTATOR_REVERSE.") + on) + "==1 && " + StateIs(kMain, "ROTATOR_REVERSE", 1), 5));
        const double angle = GetNumber(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE"));
        EXPECT_LT(std::min(angle, 360 - angle), 0.01) << on;
    }
    // Moves go from there: 30 degrees reversed.
    ASSERT_TRUE(Set(Dev(kMain, "ABS_ROTATOR_ANGLE.ANGLE=30")));
    EXPECT_TRUE(WaitFor(at(30), true, 15));
    ASSERT_TRUE(Set(Dev(kMain, "ROTATOR_ABORT_MOTION.ABORT=On")));
    EXPECT_TRUE(Eval(StateIs(kMain, "ROTATOR_ABORT_MOTION", 1), 5));
}

}  // namespace
}  // namespace velq3::test
