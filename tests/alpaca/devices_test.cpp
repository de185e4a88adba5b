// Each Alpaca device against the simulated controller: values, asynchronous moves, connection
// rules, and the protocol rules over every member of every device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

#include "alpaca/AlpacaSimFixture.h"
#include "alpaca/HttpClient.h"
#include "alpaca/SwitchDevice.h"

namespace velq3::test {
namespace {

const std::vector<std::pair<std::string, std::vector<std::string>>> kGetMembers = {
    {"filterwheel/0", {"focusoffsets", "names", "position"}},
    {"focuser/0", {"absolute", "ismoving", "maxincrement", "maxstep", "position", "stepsize", "tempcomp",
                   "tempcompavailable", "temperature"}},
    {"focuser/1", {"absolute", "ismoving", "maxincrement", "maxstep", "position", "stepsize", "tempcomp",
                   "tempcompavailable", "temperature"}},
    {"rotator/0", {"canreverse", "ismoving", "mechanicalposition", "position", "reverse", "stepsize", "targetposition"}},
    {"dome/0", {"altitude", "athome", "atpark", "azimuth", "canfindhome", "canpark", "cansetaltitude", "cansetazimuth",
                "cansetpark", "cansetshutter", "canslave", "cansyncazimuth", "shutterstatus", "slaved", "slewing"}},
    {"covercalibrator/0", {"brightness", "maxbrightness", "calibratorstate", "coverstate", "calibratorchanging",
                           "covermoving"}},
    {"switch/0", {"maxswitch"}},
};

const std::vector<std::string> kCommonGets = {"connected", "connecting", "description", "driverinfo", "driverversion",
                                              "interfaceversion", "name", "supportedactions", "devicestate"};

TEST_F(AlpacaSimTest, EveryMemberNeedsAConnectionAndEveryGetCarriesValueAndIds) {
    Start();
    for (const auto& [device, members] : kGetMembers) {
        for (const std::string& member : members) {
            const Reply r = Get(device, member, "ClientID=123456&ClientTransactionID=67890&ExtraParameter=ExtraValue");
            ASSERT_EQ(r.status, 200) << device << " " << member;
            EXPECT_EQ(r.Error(), 0x407) << device << " " << member;
            EXPECT_TRUE(r.json.contains("Value")) << device << " " << member;
            EXPECT_EQ(r.json["ClientTransactionID"], 67890);
        }
        for (const std::string& member : kCommonGets) {
            const Reply r = Get(device, member, "clientid=1&clienttransactionid=5");
            ASSERT_EQ(r.status, 200) << device << " " << member;
            EXPECT_TRUE(r.json.contains("Value")) << device << " " << member;
            EXPECT_EQ(r.json["ClientTransactionID"], 5);
            if (member != "devicestate") {
                EXPECT_EQ(r.Error(), 0) << device << " " << member << r.body;
            }
        }
        EXPECT_EQ(Get(device, "connected").Value(), false);
    }
    EXPECT_EQ(Get("switch/0", "getswitchvalue", "Id=0").Error(), 0x407);
    EXPECT_EQ(Put("filterwheel/0", "position", "Position=1").Error(), 0x407);
    EXPECT_EQ(Put("focuser/0", "move", "Position=100").Error(), 0x407);
    EXPECT_EQ(Put("dome/0", "openshutter").Error(), 0x407);
    // The interface versions of the devices.
    EXPECT_EQ(Get("filterwheel/0", "interfaceversion").Value(), 3);
    EXPECT_EQ(Get("focuser/1", "interfaceversion").Value(), 4);
    EXPECT_EQ(Get("rotator/0", "interfaceversion").Value(), 4);
    EXPECT_EQ(Get("dome/0", "interfaceversion").Value(), 3);
    EXPECT_EQ(Get("covercalibrator/0", "interfaceversion").Value(), 2);
    EXPECT_EQ(Get("switch/0", "interfaceversion").Value(), 3);
}

// Clients copy these into FITS headers, which keep 68 characters; the guidance is 64.
TEST_F(AlpacaSimTest, DescriptionAndDriverInfoLinesFitAFitsHeader) {
    Start();
    for (const auto& entry : kGetMembers) {
        for (const char* member : {"description", "driverinfo"}) {
            const std::string text = Get(entry.first, member).Value();
            EXPECT_FALSE(text.empty()) << entry.first << " " << member;
            std::size_t begin = 0;
            while (begin <= text.size()) {
                const std::size_t end = std::min(text.find('\n', begin), text.size());
                EXPECT_LE(end - begin, 64u) << entry.first << " " << member << ": " << text.substr(begin, end - begin);
                begin = end + 1;
            }
        }
    }
}

TEST_F(AlpacaSimTest, WrongModeDevicesAreRefusedAndStayDisconnected) {
    Start();  // the simulator is a wheel controller (mode 7)
    for (const std::string device : {"rotator/0", "focuser/1", "dome/0", "covercalibrator/0"}) {
        const Reply r = Put(device, "connected", "Connected=true");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.Error(), 0x40B) << device;
        EXPECT_NE(r.json["ErrorMessage"].get<std::string>().find("mode"), std::string::npos) << r.body;
        EXPECT_EQ(Get(device, "connected").Value(), false) << device;
    }
    // The wheel still connects, and its connection is its own.
    Connect("filterwheel/0");
    EXPECT_EQ(Get("filterwheel/0", "connected").Value(), true);
    EXPECT_EQ(Get("focuser/0", "connected").Value(), false);
    // Connect/Disconnect run in the background; Connecting reports the refusal afterwards.
    EXPECT_EQ(Put("rotator/0", "connect").Error(), 0);
    Reply r = Get("rotator/0", "connecting");
    for (int i = 0; i < 100 && r.Error() == 0 && r.Value() == true; ++i) {
        std::this_thread::sleep_for(20ms);
        r = Get("rotator/0", "connecting");
    }
    EXPECT_EQ(r.Error(), 0x40B) << r.body;
    EXPECT_EQ(Get("rotator/0", "connected").Value(), false);
}

// The management list offers what the mode seen at the last connection serves; every device
// stays reachable by its URL.
TEST_F(AlpacaSimTest, ConfiguredDevicesFollowTheModeOfTheLastConnection) {
    auto listed = [this] {
        std::set<std::string> names;
        const Reply r = client->Get("/management/v1/configureddevices");
        for (const Json& d : r.Value())
            names.insert(d["DeviceType"].get<std::string>() + "/" + std::to_string(d["DeviceNumber"].get<int>()));
        return names;
    };
    const std::set<std::string> all = {"FilterWheel/0", "Focuser/0", "Focuser/1", "Rotator/0",
                                       "Dome/0",        "Switch/0",  "CoverCalibrator/0"};
    struct Case {
        const char* mode;
        std::set<std::string> fits;
        const char* unfit;  // a device this mode cannot serve
    };
    const std::vector<Case> cases = {
        {"7", {"FilterWheel/0", "Focuser/0", "Switch/0"}, "rotator/0"},
        {"0", {"Focuser/0", "Focuser/1", "Switch/0"}, "filterwheel/0"},
        {"-1", {"Focuser/0", "Rotator/0", "Switch/0"}, "focuser/1"},
        {"-2", {"Focuser/0", "Dome/0", "CoverCalibrator/0", "Switch/0"}, "rotator/0"},
    };
    for (const Case& c : cases) {
        StopFace();
        Start({"--mode", c.mode});
        EXPECT_EQ(listed(), all) << c.mode << ": never connected";
        Connect("focuser/0");
        EXPECT_EQ(listed(), c.fits) << c.mode;
        // Still after the link closed.
        ASSERT_EQ(Put("focuser/0", "connected", "Connected=false").Error(), 0);
        EXPECT_EQ(Get("focuser/0", "connected").Value(), false);
        EXPECT_EQ(listed(), c.fits) << c.mode;
        const Reply r = Put(c.unfit, "connected", "Connected=true");
        EXPECT_EQ(r.status, 200) << c.mode;
        EXPECT_EQ(r.Error(), 0x40B) << c.mode << " " << r.body;
        EXPECT_NE(r.json["ErrorMessage"].get<std::string>().find("mode"), std::string::npos) << r.body;
    }
}

TEST_F(AlpacaSimTest, ConnectDisconnectPerDevice) {
    Start();
    EXPECT_EQ(Put("focuser/0", "connect").Error(), 0);
    WaitFor("focuser/0", "connected", [](const Json& v) { return v == true; });
    EXPECT_EQ(Get("focuser/0", "connected").Value(), true);
    Connect("filterwheel/0");
    EXPECT_EQ(Put("focuser/0", "disconnect").Error(), 0);
    WaitFor("focuser/0", "connected", [](const Json& v) { return v == false; });
    EXPECT_EQ(Get("focuser/0", "connected").Value(), false);
    // The wheel keeps the shared link.
    EXPECT_EQ(Get("filterwheel/0", "connected").Value(), true);
    EXPECT_EQ(Get("filterwheel/0", "position").Error(), 0);
    // Connected is idempotent.
    Connect("filterwheel/0");
    EXPECT_EQ(Put("filterwheel/0", "connected", "Connected=false").Error(), 0);
    EXPECT_EQ(Put("filterwheel/0", "connected", "Connected=false").Error(), 0);
    EXPECT_EQ(Get("filterwheel/0", "connected").Value(), false);
}

TEST_F(AlpacaSimTest, FilterWheelClimbsDescendsAndJumpsReadingMinusOneAtOnce) {
    Start({"--move-ms", "60"});
    Connect("filterwheel/0");
    const Json names = Get("filterwheel/0", "names").Value();
    const Json offsets = Get("filterwheel/0", "focusoffsets").Value();
    const int n = static_cast<int>(names.size());
    ASSERT_GE(n, 3);
    ASSERT_EQ(offsets.size(), names.size());
    for (const Json& name : names) EXPECT_FALSE(name.get<std::string>().empty());
    WaitFor("filterwheel/0", "position", [](const Json& v) { return v.get<int>() >= 0; });

    std::vector<int> order;
    for (int i = 0; i < n; ++i) order.push_back(i);
    for (int i = n - 1; i >= 0; --i) order.push_back(i);
    for (int p : {0, n - 1, 1, n - 2, 0}) order.push_back(p);
    int current = Get("filterwheel/0", "position").Value();
    for (int target : order) {
        const Reply set = Put("filterwheel/0", "position", "Position=" + std::to_string(target));
        ASSERT_EQ(set.Error(), 0) << set.body;
        if (target != current) {
            EXPECT_EQ(Get("filterwheel/0", "position").Value(), -1) << "right after a set to " << target;
        }
        const Reply done = WaitFor("filterwheel/0", "position", [&](const Json& v) { return v == target; });
        ASSERT_EQ(done.Value(), target);
        current = target;
    }
    EXPECT_EQ(Put("filterwheel/0", "position", "Position=-1").Error(), 0x401);
    EXPECT_EQ(Put("filterwheel/0", "position", "Position=" + std::to_string(n)).Error(), 0x401);
    const Reply state = Get("filterwheel/0", "devicestate");
    ASSERT_EQ(state.Error(), 0);
    EXPECT_EQ(state.Value()[0]["Name"], "Position");
}

TEST_F(AlpacaSimTest, FocuserMovesAsynchronouslyAndClampsAtTheEnds) {
    Start();
    Connect("focuser/0");
    const int maxStep = Get("focuser/0", "maxstep").Value();
    const int maxIncrement = Get("focuser/0", "maxincrement").Value();
    EXPECT_GE(maxIncrement, 1);
    EXPECT_LE(maxIncrement, maxStep);
    EXPECT_EQ(Get("focuser/0", "absolute").Value(), true);
    EXPECT_EQ(Get("focuser/0", "ismoving").Value(), false);
    EXPECT_GT(Get("focuser/0", "stepsize").Value().get<double>(), 0.0);
    const Reply t = Get("focuser/0", "temperature");
    EXPECT_EQ(t.Error(), 0) << t.body;
    EXPECT_LT(std::fabs(t.Value().get<double>()), 50.0);

    for (const auto& [request, expected] : std::vector<std::pair<int, int>>{{maxStep / 2, maxStep / 2}, {-10, 0},
                                                                            {maxStep + 10, maxStep}, {1000, 1000}}) {
        const Reply r = Put("focuser/0", "move", "Position=" + std::to_string(request));
        ASSERT_EQ(r.Error(), 0) << request << ": " << r.body;
        WaitFor("focuser/0", "ismoving", [](const Json& v) { return v == false; }, 60s);
        const int position = Get("focuser/0", "position").Value();
        EXPECT_LE(std::abs(position - expected), 2) << "move to " << request;
    }
    EXPECT_EQ(Put("focuser/0", "halt").Error(), 0x400);
    EXPECT_EQ(Put("focuser/0", "move", "Position=1e3").status, 400);
    // The second focuser is not available in wheel mode; its tempcomp rules hold all the same.
    EXPECT_EQ(Put("focuser/0", "tempcomp", "TempComp=false").Error(), 0);
    EXPECT_EQ(Get("focuser/0", "tempcomp").Value(), false);
}

TEST_F(AlpacaSimTest, SecondFocuserInItsModeHasNoCompensation) {
    Start({"--mode", "0"});
    Connect("focuser/1");
    EXPECT_EQ(Get("focuser/1", "tempcompavailable").Value(), false);
    EXPECT_EQ(Get("focuser/1", "tempcomp").Value(), false);
    EXPECT_EQ(Put("focuser/1", "tempcomp", "TempComp=true").Error(), 0x400);
    EXPECT_EQ(Put("focuser/1", "tempcomp", "TempComp=false").Error(), 0);
    ASSERT_EQ(Put("focuser/1", "move", "Position=12000").Error(), 0);
    WaitFor("focuser/1", "ismoving", [](const Json& v) { return v == false; }, 60s);
    EXPECT_LE(std::abs(Get("focuser/1", "position").Value().get<int>() - 12000), 2);
    // The wheel does not fit mode 0.
    EXPECT_EQ(Put("filterwheel/0", "connected", "Connected=true").Error(), 0x40B);
}

// Compensation follows a chosen thermometer: without one, TempComp cannot be turned on and says
// where to choose it; the focuser's setup page offers the thermometers by name and stores the
// choice where the control window keeps it; TempComp reads back at once.
TEST_F(AlpacaSimTest, TempCompNeedsAChosenThermometerAndReadsBackAtOnce) {
    hive.SetString(kSettingsKey, "TermometerName1", "Mirror");
    Start();
    Connect("focuser/0");
    EXPECT_EQ(Get("focuser/0", "tempcompavailable").Value(), false);
    Reply r = Put("focuser/0", "tempcomp", "TempComp=true");
    EXPECT_EQ(r.Error(), 0x400) << r.body;
    EXPECT_NE(r.json["ErrorMessage"].get<std::string>().find("/setup/v1/focuser/0/setup"), std::string::npos) << r.body;
    EXPECT_EQ(Get("focuser/0", "tempcomp").Value(), false);
    EXPECT_EQ(Put("focuser/0", "tempcomp", "TempComp=false").Error(), 0);

    http::Client web("127.0.0.1", face->Port(), 5000);
    auto page = web.Get("/setup/v1/focuser/0/setup");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("name=\"CompensationThermometer\""), std::string::npos);
    EXPECT_NE(page->body.find("<option value=\"1\">Mirror</option>"), std::string::npos) << page->body;
    EXPECT_NE(page->body.find("<option value=\"-1\" selected>None</option>"), std::string::npos);
    // The page's form carries this run's token; the post goes with this server's Origin.
    const std::string marker = "name=\"Token\" value=\"";
    const std::size_t at = page->body.find(marker);
    ASSERT_NE(at, std::string::npos);
    const std::string token = page->body.substr(at + marker.size(), page->body.find('"', at + marker.size()) - at - marker.size());
    // The second focuser has no compensation: no form there.
    page = web.Get("/setup/v1/focuser/1/setup");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("CompensationThermometer"), std::string::npos);

    auto posted = web.Post("/setup/v1/focuser/0/setup",
                           {{"Origin", "http://127.0.0.1:" + std::to_string(face->Port())}},
                           {{"CompensationThermometer", "1"}, {"Token", token}});
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 303) << posted->body;
    EXPECT_EQ(hive.GetDword(kSettingsKey, "AscomPreferredTermometer"), 1u);
    page = web.Get("/setup/v1/focuser/0/setup?saved=1");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<option value=\"1\" selected>Mirror</option>"), std::string::npos);

    EXPECT_EQ(Get("focuser/0", "tempcompavailable").Value(), true);
    for (const bool on : {true, false, true, false}) {
        r = Put("focuser/0", "tempcomp", std::string("TempComp=") + (on ? "true" : "false"));
        ASSERT_EQ(r.Error(), 0) << r.body;
        EXPECT_EQ(Get("focuser/0", "tempcomp").Value(), on);
    }
}

TEST_F(AlpacaSimTest, RotatorSyncSurvivesARestartOfTheFace) {
    Start({"--mode", "-1"});
    Connect("rotator/0");
    EXPECT_EQ(Get("rotator/0", "canreverse").Value(), true);
    ASSERT_EQ(Put("rotator/0", "moveabsolute", "Position=45").Error(), 0);
    WaitFor("rotator/0", "ismoving", [](const Json& v) { return v == false; }, 60s);
    const double step = Get("rotator/0", "stepsize").Value();
    EXPECT_LE(std::fabs(Get("rotator/0", "position").Value().get<double>() - 45.0), std::max(1.0, 1.1 * step));
    for (const char* bad : {"-1", "360", "405"})
        EXPECT_EQ(Put("rotator/0", "moveabsolute", std::string("Position=") + bad).Error(), 0x401) << bad;
    EXPECT_EQ(Put("rotator/0", "sync", "Position=400").Error(), 0x401);

    ASSERT_EQ(Put("rotator/0", "sync", "Position=120").Error(), 0);
    EXPECT_NEAR(Get("rotator/0", "position").Value().get<double>(), 120.0, 0.001);
    const double mechanical = Get("rotator/0", "mechanicalposition").Value();
    // Reverse turns nothing: Position stays synced, both ways.
    for (const char* reverse : {"true", "false"}) {
        ASSERT_EQ(Put("rotator/0", "reverse", std::string("Reverse=") + reverse).Error(), 0);
        EXPECT_NEAR(Get("rotator/0", "position").Value().get<double>(), 120.0, 0.001) << reverse;
        EXPECT_NEAR(Get("rotator/0", "mechanicalposition").Value().get<double>(), mechanical, 0.001) << reverse;
    }
    // Restart the face and the service with the same settings; the motor has not moved.
    StopFace();
    StartFace();
    Connect("rotator/0");
    EXPECT_NEAR(Get("rotator/0", "position").Value().get<double>(), 120.0, 0.001);
    EXPECT_NEAR(Get("rotator/0", "mechanicalposition").Value().get<double>(), mechanical, 0.001);
    // A relative move goes from the synced angle.
    ASSERT_EQ(Put("rotator/0", "move", "Position=10").Error(), 0);
    WaitFor("rotator/0", "ismoving", [](const Json& v) { return v == false; }, 60s);
    EXPECT_LE(std::fabs(Get("rotator/0", "position").Value().get<double>() - 130.0), std::max(1.0, 1.1 * step));
    EXPECT_EQ(Put("rotator/0", "halt").Error(), 0x400);
}

TEST_F(AlpacaSimTest, DomeShutterAndCoverFollowTheCoverMoves) {
    Start({"--mode", "-2"});
    Connect("dome/0");
    Connect("covercalibrator/0");
    EXPECT_EQ(Get("dome/0", "cansetshutter").Value(), true);
    for (const char* member : {"canfindhome", "canpark", "cansetaltitude", "cansetazimuth", "cansetpark", "canslave",
                               "cansyncazimuth", "slaved"})
        EXPECT_EQ(Get("dome/0", member).Value(), false) << member;
    for (const char* member : {"altitude", "azimuth", "athome", "atpark"}) EXPECT_EQ(Get("dome/0", member).Error(), 0x400);
    for (const char* member : {"findhome", "park", "setpark"}) EXPECT_EQ(Put("dome/0", member).Error(), 0x400);
    EXPECT_EQ(Put("dome/0", "slewtoazimuth", "Azimuth=10").Error(), 0x400);
    EXPECT_EQ(Get("covercalibrator/0", "calibratorstate").Value(), 0);
    EXPECT_EQ(Get("covercalibrator/0", "brightness").Error(), 0x400);
    EXPECT_EQ(Put("covercalibrator/0", "calibratoron", "Brightness=1").Error(), 0x400);

    // Open through the dome, close through the cover calibrator; each status sequence is seen.
    // The simulated cover has end-stops (switch bit 0 open, bit 1 closed), set by the test.
    sim->control("set sw 2");
    WaitFor("dome/0", "shutterstatus", [](const Json& v) { return v == 1; }, 5s);
    EXPECT_EQ(Get("dome/0", "shutterstatus").Value(), 1);  // closed
    EXPECT_EQ(Get("covercalibrator/0", "coverstate").Value(), 1);
    ASSERT_EQ(Put("dome/0", "openshutter").Error(), 0);
    EXPECT_EQ(Get("dome/0", "shutterstatus").Value(), 2);  // opening
    EXPECT_EQ(Get("dome/0", "slewing").Value(), true);
    EXPECT_EQ(Get("covercalibrator/0", "coverstate").Value(), 2);  // moving
    EXPECT_EQ(Get("covercalibrator/0", "covermoving").Value(), true);
    WaitFor("dome/0", "slewing", [](const Json& v) { return v == false; }, 60s);
    sim->control("set sw 1");
    EXPECT_EQ(WaitFor("dome/0", "shutterstatus", [](const Json& v) { return v == 0; }, 5s).Value(), 0);  // open
    EXPECT_EQ(Get("covercalibrator/0", "coverstate").Value(), 3);
    ASSERT_EQ(Put("covercalibrator/0", "closecover").Error(), 0);
    EXPECT_EQ(Get("dome/0", "shutterstatus").Value(), 3);  // closing
    EXPECT_EQ(Get("covercalibrator/0", "coverstate").Value(), 2);
    WaitFor("covercalibrator/0", "covermoving", [](const Json& v) { return v == false; }, 60s);
    sim->control("set sw 2");
    EXPECT_EQ(WaitFor("covercalibrator/0", "coverstate", [](const Json& v) { return v == 1; }, 5s).Value(), 1);
    EXPECT_EQ(Put("covercalibrator/0", "haltcover").Error(), 0x400);
}

// A controller whose status never carries the second motor (16-byte blocks): its position is
// unknown, and every reading of it is an error rather than a number made of the marker; the
// cover without end-stops reads Unknown (CoverState 4) and error (ShutterStatus 4).
TEST_F(AlpacaSimTest, AnUnknownSecondMotorPositionReadsAsAnError) {
    struct Case {
        const char* mode;
        std::vector<std::string> devices;
    };
    for (const Case& c : {Case{"0", {"focuser/1"}}, Case{"-1", {"rotator/0"}}, Case{"-2", {"dome/0", "covercalibrator/0"}}}) {
        SCOPED_TRACE(c.mode);
        StopFace();
        Start({"--mode", c.mode, "--all-len", "16"});
        for (const auto& d : c.devices) Connect(d);
        service->Invoke([](OrnFilterWheel& fw) { fw.HomeMark = 0; });  // a cover without end-stops
        if (c.devices[0] == "focuser/1") {
            EXPECT_EQ(Get("focuser/1", "position").Error(), 0x501);
        } else if (c.devices[0] == "rotator/0") {
            for (const char* member : {"position", "mechanicalposition", "targetposition"})
                EXPECT_EQ(Get("rotator/0", member).Error(), 0x501) << member;
        } else {
            EXPECT_EQ(WaitFor("dome/0", "shutterstatus", [](const Json& v) { return v == 4; }, 5s).Value(), 4);
            EXPECT_EQ(WaitFor("covercalibrator/0", "coverstate", [](const Json& v) { return v == 4; }, 5s).Value(), 4);
        }
    }
}

TEST_F(AlpacaSimTest, SwitchRangesAndTheSetPointReachesTheMemoryOnce) {
    Start();
    Connect("switch/0");
    const int count = Get("switch/0", "maxswitch").Value();
    ASSERT_GE(count, 7);
    int writable = -1;
    for (int id = 0; id < count; ++id) {
        const std::string q = "Id=" + std::to_string(id);
        const double min = Get("switch/0", "minswitchvalue", q).Value();
        const double max = Get("switch/0", "maxswitchvalue", q).Value();
        const double step = Get("switch/0", "switchstep", q).Value();
        EXPECT_LT(min, max) << id;
        EXPECT_GT(step, 0.0) << id;
        const double steps = (max - min) / step;
        EXPECT_NEAR(steps, std::round(steps), 1e-6) << id;
        EXPECT_FALSE(Get("switch/0", "getswitchname", q).Value().get<std::string>().empty());
        EXPECT_EQ(Get("switch/0", "canasync", q).Value(), false);
        if (Get("switch/0", "canwrite", q).Value() == true) {
            writable = id;
        } else {
            EXPECT_EQ(Put("switch/0", "setswitchvalue", q + "&Value=" + std::to_string(min)).Error(), 0x400) << id;
        }
    }
    for (const std::string& bad : std::vector<std::string>{"Id=-1", "Id=" + std::to_string(count)})
        EXPECT_EQ(Get("switch/0", "getswitchvalue", bad).Error(), 0x401) << bad;
    EXPECT_EQ(Get("switch/0", "getswitchvalue", "Id=asduio6fghZZ").status, 400);
    ASSERT_EQ(writable, count - 1);
    EXPECT_NE(Get("switch/0", "getswitchdescription", "Id=" + std::to_string(writable)).Value().get<std::string>().find(
                  "stored in the controller"),
              std::string::npos);

    const std::string id = "Id=" + std::to_string(writable);
    const double max = Get("switch/0", "maxswitchvalue", id).Value();
    const double value = max == 100.0 && Get("switch/0", "minswitchvalue", id).Value() == 0.0 ? 40.0 : 21.5;
    EXPECT_EQ(Put("switch/0", "setswitchvalue", id + "&Value=" + std::to_string(max + 1)).Error(), 0x401);
    ASSERT_EQ(Put("switch/0", "setswitchvalue", id + "&Value=" + std::to_string(value)).Error(), 0);
    EXPECT_NEAR(Get("switch/0", "getswitchvalue", id).Value().get<double>(), value, 0.5);
    // The controller's memory holds it: read the simulator's memory file.
    std::ifstream file(sim->dir().file("eeprom.bin"), std::ios::binary);
    const std::vector<char> memory((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(memory.size(), 148u);
    const auto control = GetU16(reinterpret_cast<const std::uint8_t*>(memory.data()) + 144);
    const auto stored = GetI16(reinterpret_cast<const std::uint8_t*>(memory.data()) + 146);
    EXPECT_NEAR(alpaca::DecodeHeaterSetPoint(control, stored).value, value, 0.5);
    // With memory writes unanswered, the same value still succeeds (nothing is written), and
    // another value fails once the last write is a second old (sooner it would wait).
    sim->control("fault silent FWwriteEE");
    EXPECT_EQ(Put("switch/0", "setswitchvalue", id + "&Value=" + std::to_string(value)).Error(), 0);
    std::this_thread::sleep_for(1100ms);  // past the one-second spacing of memory writes
    EXPECT_NE(Put("switch/0", "setswitchvalue", id + "&Value=" + std::to_string(value - 1)).Error(), 0);
    sim->control("fault none");
}

TEST_F(AlpacaSimTest, SwitchAsyncMembersOnSynchronousChannels) {
    Start();
    Connect("switch/0");
    const int count = Get("switch/0", "maxswitch").Value();
    ASSERT_GE(count, 7);
    struct Case {
        bool put;
        const char* member;
        const char* extra;  // the member's own parameter besides Id
    };
    const std::vector<Case> cases = {{false, "canasync", ""},          {false, "statechangecomplete", ""},
                                     {true, "setasync", "&State=true"}, {true, "setasyncvalue", "&Value=1"},
                                     {true, "cancelasync", ""}};
    for (const Case& c : cases) {
        auto call = [&](const std::string& q) { return c.put ? Put("switch/0", c.member, q) : Get("switch/0", c.member, q); };
        for (const std::string& bad : std::vector<std::string>{"Id=-1", "Id=" + std::to_string(count)}) {
            const Reply r = call(bad + c.extra);
            EXPECT_EQ(r.status, 200) << c.member << " " << bad << " " << r.body;
            EXPECT_EQ(r.Error(), 0x401) << c.member << " " << bad << " " << r.body;
        }
        for (int id = 0; id < count; ++id) {
            const Reply r = call("Id=" + std::to_string(id) + c.extra);
            ASSERT_EQ(r.status, 200) << c.member << " " << id << " " << r.body;
            if (c.put) {
                EXPECT_EQ(r.Error(), 0x400) << c.member << " " << id << " " << r.body;
            } else {
                EXPECT_EQ(r.Error(), 0) << c.member << " " << id;
                EXPECT_EQ(r.Value(), std::string(c.member) == "statechangecomplete") << c.member << " " << id;
            }
        }
    }
}

// A client toggling the heater set point: every value reads back at once, the memory is
// written at most once a second with the last value, and a value equal to the memory's is not
// written again.
TEST_F(AlpacaSimTest, HeaterSetPointWritesAreCoalescedToOneASecond) {
    Start({"--verbose"});
    Connect("switch/0");
    const int count = Get("switch/0", "maxswitch").Value();
    const std::string id = "Id=" + std::to_string(count - 1);
    ASSERT_EQ(Get("switch/0", "canwrite", id).Value(), true);
    const double min = Get("switch/0", "minswitchvalue", id).Value();
    const double max = Get("switch/0", "maxswitchvalue", id).Value();
    const double a = min + (max - min) * 0.25, b = min + (max - min) * 0.5;
    auto set = [&](double v) {
        const Reply r = Put("switch/0", "setswitchvalue", id + "&Value=" + std::to_string(v));
        EXPECT_EQ(r.Error(), 0) << r.body;
        EXPECT_NEAR(Get("switch/0", "getswitchvalue", id).Value().get<double>(), v, 0.5);
    };
    auto writes = [this] {
        const auto words = sim->takeReceived();
        return std::count(words.begin(), words.end(), "FWwriteEE");
    };
    auto stored = [this] {
        std::ifstream file(sim->dir().file("eeprom.bin"), std::ios::binary);
        const std::vector<char> memory((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(memory.data());
        return memory.size() >= 148 ? alpaca::DecodeHeaterSetPoint(GetU16(bytes + 144), GetI16(bytes + 146)).value : NAN;
    };
    set(a);
    std::this_thread::sleep_for(1100ms);
    writes();

    // Forty changes as fast as the client can send them, ending on b.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) set(i % 2 == 0 ? b : a);
    set(b);
    const auto sent = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1200ms);
    const double seconds = std::chrono::duration<double>(sent - start).count();
    const auto written = writes();
    EXPECT_GE(written, 1);
    EXPECT_LE(written, static_cast<long>(seconds) + 2) << seconds << " s";
    EXPECT_NEAR(stored(), b, 0.5);
    EXPECT_NEAR(Get("switch/0", "getswitchvalue", id).Value().get<double>(), b, 0.5);

    // Unchanged values, and a change undone within the second, write nothing.
    set(b);
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(writes(), 0);
    set(a);  // written at once
    set(b);
    set(a);  // back at what the memory holds before the second is over
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(writes(), 1);
    EXPECT_NEAR(stored(), a, 0.5);

    // A late write that fails leaves the reading at the memory's value.
    set(b);  // written at once
    sim->control("fault silent FWwriteEE");
    set(a);  // waits, then fails
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    double reading = a;
    while (std::abs(reading - b) > 0.5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        reading = Get("switch/0", "getswitchvalue", id).Value().get<double>();
    }
    EXPECT_NEAR(reading, b, 0.5);
    sim->control("fault none");
    EXPECT_NEAR(stored(), b, 0.5);
}

TEST_F(AlpacaSimTest, PositionDuringALongWheelMoveComesFromTheSnapshot) {
    hive.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", 20000);
    Start({"--realtime"});
    Connect("filterwheel/0");
    WaitFor("filterwheel/0", "position", [](const Json& v) { return v.get<int>() >= 0; }, 30s);
    const int from = Get("filterwheel/0", "position").Value();
    const int count = static_cast<int>(Get("filterwheel/0", "names").Value().size());
    const int target = (from + 2) % count;
    // About ten seconds for two slots.
    sim->control("set move-ms 5000");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Put("filterwheel/0", "position", "Position=" + std::to_string(target)).Error(), 0);
    const auto accepted = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    const Reply during = Get("filterwheel/0", "position");
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_EQ(during.Value(), -1);
    EXPECT_LT(accepted - start, 1s);
    EXPECT_LT(answered - accepted, 1500ms);
    EXPECT_EQ(Get("filterwheel/0", "connected").Value(), true);
    const Reply done = WaitFor("filterwheel/0", "position", [&](const Json& v) { return v == target; }, 40s);
    const auto arrived = std::chrono::steady_clock::now();
    EXPECT_EQ(done.Value(), target);
    // The reply came while the move still ran.
    EXPECT_GT(arrived - answered, 3s);
}

} // namespace
} // namespace velq3::test
