// The Dome driver: the cover on the second motor as the shutter (N = 1000 steps of travel),
// the shutter status rules, and the fixed or unsupported dome members.
#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

using DomeTest = DriverTest;

TEST_F(DomeTest, ConnectsOnlyInCoverMode) {
    Start({"--mode", "-1"});
    auto dome = Create<IDome>(CLSID_Dome);
    EXPECT_EQ(dome->put_Connected(VARIANT_TRUE), E_FAIL);
    EXPECT_FALSE(fw->IsOpen());
    EXPECT_EQ(CountLines("CDomeImpl::put_Connected(-1)\n"), 1);
    EXPECT_TRUE(Logged("DisconnectMulti(0x"));
    sim->control("set mode -2");
    EXPECT_EQ(dome->put_Connected(VARIANT_TRUE), S_OK);
    EXPECT_EQ(LateGet(dome.Get(), "Connected"), Variant(VARIANT_TRUE));
    EXPECT_EQ(CountLines("CDomeImpl::get_Connected(-1)\n"), 1);
}

TEST_F(DomeTest, OpenAndCloseMoveTheFullTravelAndSetTheCounter) {
    Start({"--mode", "-2"});
    auto dome = Create<IDome>(CLSID_Dome);
    ASSERT_EQ(dome->put_Connected(VARIANT_TRUE), S_OK);
    fw->MaxSteps = 1000;
    PlaceMotor(1, 0);
    TakeLog();

    EXPECT_EQ(dome->OpenShutter(), S_OK);
    EXPECT_EQ(fw->Focus2Pos, 1000);
    EXPECT_EQ(MotorInDevice(1), 1000);
    // Opening again drives another full travel, then the counter is set back to open.
    EXPECT_EQ(LateCallMethod(dome.Get(), "openshutter").hr, S_OK);
    EXPECT_EQ(fw->Focus2Pos, 1000);
    EXPECT_EQ(MotorInDevice(1), 1000);
    EXPECT_EQ(CountLines("CDomeImpl::OpenShutter()\n"), 2);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(1000)\n"), 1);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(2000)\n"), 1);
    EXPECT_TRUE(Logged("OK GoFocus#1(1000->2000)"));

    EXPECT_EQ(dome->CloseShutter(), S_OK);
    EXPECT_EQ(fw->Focus2Pos, 0);
    EXPECT_EQ(MotorInDevice(1), 0);
    EXPECT_EQ(CountLines("CDomeImpl::CloseShutter()\n"), 1);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(0)\n"), 1);

    // With end-stop sensors the switch bits are read at the end of the move: the shutter
    // reads open or closed at once, not at the next status poll.
    fw->HomeMark = 1;
    std::int32_t status = -1;
    EXPECT_EQ(dome->OpenShutter(), S_OK);
    EXPECT_EQ(dome->get_ShutterStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dome->CloseShutter(), S_OK);
    EXPECT_EQ(dome->get_ShutterStatus(&status), S_OK);
    EXPECT_EQ(status, 1);

    // A close that fails leaves the counter where it was.
    PlaceMotor(1, 1000);
    ASSERT_EQ(dome->put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(dome->CloseShutter(), E_FAIL);
    EXPECT_EQ(fw->Focus2Pos, 1000);
    EXPECT_EQ(LateCallMethod(dome.Get(), "CloseShutter").excep.scode, E_FAIL);
}

TEST_F(DomeTest, ShutterStatusRules) {
    MakeFw();
    auto dome = Create<IDome>(CLSID_Dome);
    fw->MaxSteps = 1000;
    auto status = [&] {
        std::int32_t s = -1;
        EXPECT_EQ(dome->get_ShutterStatus(&s), S_OK);
        EXPECT_EQ(LateGet(dome.Get(), "ShutterStatus"), Variant(s));
        return s;
    };
    // Without end-stop sensors: from the position, closed below half the travel.
    fw->HomeMark = 0;
    fw->Focus2Pos = 499;
    EXPECT_EQ(status(), 1);
    fw->Focus2Pos = 500;
    EXPECT_EQ(status(), 0);
    // While a command runs: the direction from where the move started.
    fw->m_bBusy = true;
    EXPECT_EQ(status(), 3);
    fw->Focus2Pos = 499;
    EXPECT_EQ(status(), 2);
    VariantBool slewing = VARIANT_TRUE;
    EXPECT_EQ(dome->get_Slewing(&slewing), S_OK);
    EXPECT_EQ(slewing, VARIANT_FALSE);
    fw->m_bBusy = false;
    // With end-stop sensors: the switch bits decide, the open bit first.
    fw->HomeMark = 1;
    const std::pair<int, int> bits[] = {{0, 4}, {1, 0}, {2, 1}, {3, 0}};
    for (const auto& [sw, expected] : bits) {
        fw->Sw = static_cast<std::uint8_t>(sw);
        EXPECT_EQ(status(), expected) << "Sw=" << sw;
    }
    EXPECT_EQ(CountLines("CDomeImpl::get_ShutterStatus(4)\n"), 2);
    EXPECT_EQ(CountLines("CDomeImpl::get_ShutterStatus(0)\n"), 6);

    // No travel at all: no fault, and the position alone decides.
    fw->HomeMark = 0;
    fw->MaxSteps = 0;
    fw->Focus2Pos = 0;
    EXPECT_EQ(status(), 0);

    // An unknown position is neither open nor closed without end-stops.
    fw->MaxSteps = 1000;
    fw->Focus2Pos = kPositionNotRead;
    EXPECT_EQ(status(), 4);
    fw->HomeMark = 1;
    fw->Sw = 2;
    EXPECT_EQ(status(), 1);
}

// A failed open leaves the cover's position unknown: the shutter reads as an error, and the next
// open reads the position first and drives the travel from there, never from the marker.
TEST_F(DomeTest, AfterAFailedMoveTheShutterIsInErrorAndTheNextMoveReadsThePositionFirst) {
    Start({"--mode", "-2"});
    auto dome = Create<IDome>(CLSID_Dome);
    ASSERT_EQ(dome->put_Connected(VARIANT_TRUE), S_OK);
    fw->MaxSteps = 100;
    fw->HomeMark = 0;
    fw->FocuserSpeed = 300;
    fw->FocuserBacklash = 0;
    PlaceMotor(1, 0);
    TakeLog();
    std::int32_t status = -1;

    sim->control("fault silent FWgoFocus");
    EXPECT_EQ(dome->OpenShutter(), E_FAIL);  // time-out 2333 ms; the motor stays closed
    sim->control("fault none");
    EXPECT_EQ(dome->get_ShutterStatus(&status), S_OK);
    EXPECT_EQ(status, 4);
    EXPECT_EQ(CountLines("CDomeImpl::get_ShutterStatus(4)\n"), 1);

    // A position that cannot be read sends no move.
    sim->control("fault silent FWfocus");
    EXPECT_EQ(dome->OpenShutter(), E_FAIL);
    sim->control("fault none");
    EXPECT_EQ(CountLines("m_FW.GoToPosition(100)\n"), 1);

    EXPECT_EQ(dome->OpenShutter(), S_OK);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(100)\n"), 2);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(16777315)\n"), 0);
    EXPECT_EQ(fw->Focus2Pos, 100);
    EXPECT_EQ(MotorInDevice(1), 100);
    EXPECT_EQ(dome->get_ShutterStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
}

TEST_F(DomeTest, FixedValuesAndUnsupportedMembers) {
    MakeFw();
    auto dome = Create<IDome>(CLSID_Dome);
    using Getter = HRESULT (IDome::*)(VariantBool*);
    const std::pair<Getter, const char*> flags[] = {
        {&IDome::get_AtHome, "get_AtHome"},         {&IDome::get_AtPark, "get_AtPark"},
        {&IDome::get_CanFindHome, "get_CanFindHome"}, {&IDome::get_CanPark, "get_CanPark"},
        {&IDome::get_CanSetAltitude, "get_CanSetAltitude"}, {&IDome::get_CanSetAzimuth, "get_CanSetAzimuth"},
        {&IDome::get_CanSetPark, "get_CanSetPark"}, {&IDome::get_CanSlave, "get_CanSlave"},
        {&IDome::get_CanSyncAzimuth, "get_CanSyncAzimuth"}, {&IDome::get_Slaved, "get_Slaved"},
        {&IDome::get_Slewing, "get_Slewing"}};
    for (const auto& [getter, member] : flags) {
        VariantBool b = VARIANT_TRUE;
        EXPECT_EQ((dome.Get()->*getter)(&b), S_OK) << member;
        EXPECT_EQ(b, VARIANT_FALSE) << member;
        EXPECT_EQ(CountLines(std::string("CDomeImpl::") + member + "(0)\n"), 1) << member;
        EXPECT_EQ(LateGet(dome.Get(), member + 4), Variant(VARIANT_FALSE)) << member;
    }
    VariantBool canSetShutter = VARIANT_FALSE;
    EXPECT_EQ(dome->get_CanSetShutter(&canSetShutter), S_OK);
    EXPECT_EQ(canSetShutter, VARIANT_TRUE);
    EXPECT_EQ(CountLines("CDomeImpl::get_CanSetShutter(-1)\n"), 1);

    TakeLog();
    double d = -1;
    EXPECT_EQ(dome->get_Altitude(&d), S_OK);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(LateGet(dome.Get(), "Azimuth"), Variant(0.0));
    std::int16_t version = 0;
    EXPECT_EQ(dome->get_InterfaceVersion(&version), S_OK);
    EXPECT_EQ(version, 1);
    SafeArray<Bstr> actions;
    EXPECT_EQ(dome->get_SupportedActions(&actions), S_OK);
    EXPECT_EQ(actions.size(), 0u);
    EXPECT_EQ(dome->SetupDialog(), S_OK);
    EXPECT_EQ(window.fronts, 1);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CDomeImpl::get_Altitude(0)\n", "CDomeImpl::get_Azimuth(0)\n",
                                                   "CDomeImpl::get_InterfaceVersion(1)\n",
                                                   "CDomeImpl::get_SupportedActions()\n", "CDomeImpl::SetupDialog()\n"}));

    Bstr text;
    EXPECT_EQ(dome->get_Description(&text), S_OK);
    EXPECT_EQ(text, "Orn Dome driver");
    EXPECT_EQ(dome->get_DriverInfo(&text), S_OK);
    EXPECT_EQ(text, "Dome driver");
    EXPECT_EQ(dome->get_DriverVersion(&text), S_OK);
    EXPECT_EQ(text, "3.5");
    EXPECT_EQ(LateGet(dome.Get(), "Name"), Variant(Bstr("Orn Dome")));

    // Unsupported methods: E_FAIL, no log line, no error information.
    EXPECT_EQ(dome->AbortSlew(), E_FAIL);
    EXPECT_EQ(dome->FindHome(), E_FAIL);
    EXPECT_EQ(dome->Park(), E_FAIL);
    EXPECT_EQ(dome->SetPark(), E_FAIL);
    EXPECT_EQ(dome->SlewToAltitude(10), E_FAIL);
    EXPECT_EQ(dome->SlewToAzimuth(10), E_FAIL);
    EXPECT_EQ(dome->SyncToAzimuth(10), E_FAIL);
    EXPECT_FALSE(GetErrorInfo());
    const LateCall slew = LateCallMethod(dome.Get(), "SlewToAzimuth", {Variant(std::int32_t{180})});
    EXPECT_EQ(slew.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(slew.excep.scode, E_FAIL);
    EXPECT_TRUE(slew.excep.description.empty());
    EXPECT_EQ(LateCallMethod(dome.Get(), "SlewToAzimuth").hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_TRUE(TakeLog().empty());
}

} // namespace
} // namespace velq3::test
