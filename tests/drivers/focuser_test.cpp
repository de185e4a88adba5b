// The two Focuser drivers: unit conversions and moves against the simulated controller,
// values taken from the settings and the status, temperature, compensation and Halt.
#include <cmath>

#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

using FocuserTest = DriverTest;

TEST_F(FocuserTest, PositionsAreShiftedAndMovesSendTheDeviceTarget) {
    Start({});
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_EQ(CountLines("CFocuser::put_Link(-1)\n"), 1);
    PlaceMotor(0, 0);
    TakeLog();

    std::int32_t pos = 0;
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 10000);
    EXPECT_EQ(focuser->Move(10500), S_OK);
    EXPECT_EQ(MotorInDevice(0), 500);
    EXPECT_EQ(focuser->Move(9973), S_OK);  // below the shift: a negative target, sent as it is
    EXPECT_EQ(MotorInDevice(0), -27);
    auto log = TakeLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "CFocuser::get_Position(0)\n");
    EXPECT_EQ(log[1], "CFocuser::Move(500)\n");
    EXPECT_NE(std::find(log.begin(), log.end(), "CFocuser::Move(-27)\n"), log.end());

    EXPECT_EQ(LateCallMethod(focuser.Get(), "Move", {Variant(std::int32_t{10100})}).hr, S_OK);
    EXPECT_EQ(MotorInDevice(0), 100);
    EXPECT_EQ(LateGet(focuser.Get(), "position"), Variant(std::int32_t{10100}));

    // A target the 16-bit move command cannot carry is refused, not wrapped.
    TakeLog();
    EXPECT_EQ(focuser->Move(60000), E_INVALIDARG);
    EXPECT_EQ(focuser->Move(-30000), E_INVALIDARG);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CFocuser::Move(50000)\n", "CFocuser::Move(-40000)\n"}));
    EXPECT_EQ(MotorInDevice(0), 100);

    // Another device command in progress: the move fails at once.
    fw->m_bBusy = true;
    EXPECT_EQ(focuser->Move(10200), E_FAIL);
    fw->m_bBusy = false;
    EXPECT_EQ(MotorInDevice(0), 100);

    // Another shift from the settings.
    fw->AscomFocusShift = 0;
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 100);
}

TEST_F(FocuserTest, AfterAFailedMoveThePositionIsUnknownUntilTheDeviceTellsIt) {
    Start({"--fault", "short", "--fault-cmd", "FWgoFocus"});  // moves, but never reports the end
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    PlaceMotor(0, 1000);
    fw->FocuserSpeed = 300;
    fw->FocuserBacklash = 0;
    EXPECT_EQ(focuser->Move(11030), E_FAIL);  // 30 steps: a time-out of 2100 ms
    EXPECT_EQ(MotorInDevice(0), 1030);
    sim->control("fault none");
    // Not reported, and not asked of the device either.
    std::int32_t pos = 0;
    EXPECT_EQ(focuser->get_Position(&pos), E_FAIL);
    EXPECT_EQ(CountLines("CFocuser::get_Position() unknown\n"), 1);
    EXPECT_EQ(fw->FocusPos, kPositionNotRead);
    // The next status tells it.
    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(s));
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 11030);

    // So does the next move, which reads the position before it starts.
    sim->control("fault short FWgoFocus");
    EXPECT_EQ(focuser->Move(11060), E_FAIL);
    sim->control("fault none");
    EXPECT_EQ(focuser->Move(11000), S_OK);
    EXPECT_TRUE(Logged("OK GoFocus#0(1060->1000)"));
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 11000);
}

// The second motor's position on a controller whose status never carries it (16-byte blocks):
// Position fails and asks nothing, and a move goes out without a position query.
TEST_F(FocuserTest, ASecondMotorTheStatusNeverCarriesIsNeverQueried) {
    Start({"--mode", "0", "--all-len", "16"});
    auto second = Create<IFocuser>(CLSID_Focuser2);
    ASSERT_EQ(second->put_Link(VARIANT_TRUE), S_OK);
    sim->control("set focus 1 300");
    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(s));
    ASSERT_EQ(fw->Focus2Pos, kPositionNotRead);
    std::int32_t pos = 0;
    EXPECT_EQ(second->get_Position(&pos), E_FAIL);
    EXPECT_EQ(fw->Focus2Pos, kPositionNotRead);  // nothing was asked

    sim->control("fault silent FWfocus");  // a query now would fail the move
    EXPECT_EQ(second->Move(10500), S_OK);
    EXPECT_EQ(second->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 10500);
    sim->control("fault none");
    EXPECT_EQ(MotorInDevice(1), 500);
}

TEST_F(FocuserTest, MovesFailWhenTheLinkIsClosed) {
    MakeFw();
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    EXPECT_EQ(focuser->Move(10500), E_FAIL);
    EXPECT_EQ(CountLines("CFocuser::Move(500)\n"), 1);
    auto late = LateCallMethod(focuser.Get(), "Move", {Variant(std::int32_t{10500})});
    EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(late.excep.scode, E_FAIL);
    EXPECT_TRUE(late.excep.description.empty());
}

TEST_F(FocuserTest, SecondFocuserNeedsItsModeAndDrivesMotorOne) {
    Start({"--mode", "0"});
    auto second = Create<IFocuser>(CLSID_Focuser2);
    ASSERT_EQ(second->put_Link(VARIANT_TRUE), S_OK);
    PlaceMotor(0, 1000);
    PlaceMotor(1, 0);
    TakeLog();
    std::int32_t pos = 0;
    EXPECT_EQ(second->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 10000);
    EXPECT_EQ(second->Move(10500), S_OK);
    EXPECT_EQ(MotorInDevice(1), 500);
    EXPECT_EQ(MotorInDevice(0), 1000);
    EXPECT_EQ(LateGet(second.Get(), "Position"), Variant(std::int32_t{10500}));
    EXPECT_EQ(CountLines("CFocuser2::get_Position(0)\n"), 1);
    EXPECT_EQ(CountLines("CFocuser2::Move(500)\n"), 1);
    EXPECT_EQ(CountLines("CFocuser2::get_Position(500)\n"), 1);
    EXPECT_EQ(second->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(CountLines("CFocuser2::put_Link(0)\n"), 1);

    // Any other mode: the connection is undone. The first focuser connects in any mode.
    sim->control("set mode 7");
    TakeLog();
    EXPECT_EQ(second->put_Link(VARIANT_TRUE), E_FAIL);
    EXPECT_FALSE(fw->IsOpen());
    auto log = TakeLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_NE(log[1].find(") = connect\r\n"), std::string::npos);
    EXPECT_NE(log.back().find(") = Disconnect\r\n"), std::string::npos);
    VariantBool link = VARIANT_TRUE;
    EXPECT_EQ(second->get_Link(&link), S_OK);
    EXPECT_EQ(link, VARIANT_FALSE);
    auto first = Create<IFocuser>(CLSID_Focuser);
    EXPECT_EQ(LatePut(first.Get(), "Link", Variant(VARIANT_TRUE)).hr, S_OK);
    EXPECT_EQ(LateGet(first.Get(), "LINK"), Variant(VARIANT_TRUE));
    EXPECT_EQ(CountLines("CFocuser::get_Link(-1)\n"), 1);
}

// The first focuser has no mode condition: it connects whatever the controller's mode byte,
// including bytes no settings dialog stores.
TEST_F(FocuserTest, FirstFocuserConnectsInEveryMode) {
    Start({});
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    for (int mode : {-128, -3, -2, -1, 0, 1, 10, 11, 20, 21, 25, 99, 127}) {
        SCOPED_TRACE(mode);
        sim->control("set mode " + std::to_string(mode & 0xFF));
        ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
        EXPECT_TRUE(fw->IsOpen());
        EXPECT_EQ(fw->Mode, mode);
        EXPECT_EQ(focuser->Move(10200 + mode), S_OK);
        EXPECT_EQ(MotorInDevice(0), 200 + mode);
        ASSERT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
        EXPECT_FALSE(fw->IsOpen());
    }
}

TEST_F(FocuserTest, FixedAndSettingsValues) {
    MakeFw();
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    auto second = Create<IFocuser>(CLSID_Focuser2);
    fw->AscomMaxFocusPos = 12345;
    fw->StepLenInMicrons = 2.5;
    for (IFocuser* f : {focuser.Get(), second.Get()}) {
        VariantBool b = VARIANT_FALSE;
        std::int32_t i = 0;
        double d = 0;
        EXPECT_EQ(f->get_Absolute(&b), S_OK);
        EXPECT_EQ(b, VARIANT_TRUE);
        EXPECT_EQ(f->get_MaxIncrement(&i), S_OK);
        EXPECT_EQ(i, 5000);
        EXPECT_EQ(f->get_MaxStep(&i), S_OK);
        EXPECT_EQ(i, 12345);
        EXPECT_EQ(f->get_StepSize(&d), S_OK);
        EXPECT_EQ(d, 2.5);
        EXPECT_EQ(f->get_IsMoving(&b), S_OK);
        EXPECT_EQ(b, VARIANT_FALSE);
        fw->m_bBusy = true;  // a device command in progress
        EXPECT_EQ(LateGet(f, "IsMoving"), Variant(VARIANT_TRUE));
        fw->m_bBusy = false;
        EXPECT_EQ(LateGet(f, "MaxStep"), Variant(std::int32_t{12345}));
        EXPECT_EQ(LateGet(f, "StepSize"), Variant(2.5));
        EXPECT_EQ(LateGet(f, "Absolute"), Variant(VARIANT_TRUE));
        EXPECT_EQ(f->get_Absolute(nullptr), E_POINTER);
    }
    for (const char* cls : {"CFocuser", "CFocuser2"}) {
        const std::string c = cls;
        EXPECT_EQ(CountLines(c + "::get_Absolute(-1)\n"), 2) << c;
        EXPECT_EQ(CountLines(c + "::get_MaxIncrement(5000)\n"), 1) << c;
        EXPECT_EQ(CountLines(c + "::get_MaxStep(12345)\n"), 2) << c;
        EXPECT_EQ(CountLines(c + "::get_StepSize(2.500000)\n"), 2) << c;
        EXPECT_EQ(CountLines(c + "::get_IsMoving(0)\n"), 1) << c;
        EXPECT_EQ(CountLines(c + "::get_IsMoving(-1)\n"), 1) << c;
    }

    TakeLog();
    VariantBool available = VARIANT_FALSE;
    EXPECT_EQ(focuser->get_TempCompAvailable(&available), S_OK);
    EXPECT_EQ(available, VARIANT_TRUE);
    EXPECT_EQ(second->get_TempCompAvailable(&available), S_OK);
    EXPECT_EQ(available, VARIANT_FALSE);
    EXPECT_EQ(LateGet(second.Get(), "TempCompAvailable"), Variant(VARIANT_FALSE));
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"CFocuser::get_TempCompAvailable(1)\n"});

    EXPECT_EQ(focuser->SetupDialog(), S_OK);
    EXPECT_EQ(LateCallMethod(second.Get(), "SetupDialog").hr, S_OK);
    EXPECT_EQ(window.fronts, 2);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CFocuser::SetupDialog()\n", "CFocuser2::SetupDialog()\n"}));
}

// Temperature selection over the status record; kNoTemperature marks a sensor without reading.
TEST_F(FocuserTest, TemperatureFromThePreferredOrFirstReadingSensor) {
    MakeFw();
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    auto second = Create<IFocuser>(CLSID_Focuser2);
    auto read = [](IFocuser* f, double& v) {
        v = -999;
        return f->get_Temperature(&v);
    };
    double v = 0;
    for (float& t : fw->Temp) t = kNoTemperature;

    // No sensors: success with 0.0.
    fw->SensorCount = 0;
    fw->AscomPreferredTermometer = -1;
    EXPECT_EQ(read(focuser.Get(), v), S_OK);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(read(second.Get(), v), S_OK);
    EXPECT_EQ(v, 0.0);

    // Two sensors without readings and no preferred one.
    fw->SensorCount = 2;
    EXPECT_EQ(read(focuser.Get(), v), E_FAIL);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(read(second.Get(), v), S_OK);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(CountLines("CFocuser::get_Temperature(0.000000)\n"), 2);
    EXPECT_EQ(CountLines("CFocuser2::get_Temperature(0.000000)\n"), 2);

    // The first sensor that reads, unless a preferred one is set: then that one alone.
    fw->Temp[1] = 12.5f;
    EXPECT_EQ(read(focuser.Get(), v), S_OK);
    EXPECT_EQ(v, 12.5);
    fw->AscomPreferredTermometer = 0;
    EXPECT_EQ(read(focuser.Get(), v), E_FAIL);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(read(second.Get(), v), S_OK);
    EXPECT_EQ(v, 0.0);
    fw->AscomPreferredTermometer = 1;
    EXPECT_EQ(LateGet(focuser.Get(), "Temperature"), Variant(12.5));
    EXPECT_EQ(CountLines("CFocuser::get_Temperature(12.500000)\n"), 2);

    // Out of range settings never read past the four readings.
    fw->AscomPreferredTermometer = 7;
    EXPECT_EQ(read(focuser.Get(), v), E_FAIL);
    EXPECT_EQ(v, 0.0);
    fw->AscomPreferredTermometer = -1;
    fw->SensorCount = 200;
    fw->Temp[1] = kNoTemperature;
    fw->Temp[3] = -4.25f;
    EXPECT_EQ(read(focuser.Get(), v), S_OK);
    EXPECT_EQ(v, -4.25);
    fw->Temp[3] = kNoTemperature;
    EXPECT_EQ(read(focuser.Get(), v), E_FAIL);
    const LateCall late = CallByName(focuser.Get(), "Temperature", DISPATCH_PROPERTYGET);
    EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(late.excep.scode, E_FAIL);
}

TEST_F(FocuserTest, TemperatureOfTheSimulatedSensors) {
    Start({"--sensors", "2"});
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    fw->AscomPreferredTermometer = -1;
    sim->control("set temp 0 none");
    sim->control("set temp 1 2150");
    FWCurrentParameters status = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(status));
    double v = 0;
    EXPECT_EQ(focuser->get_Temperature(&v), S_OK);
    EXPECT_DOUBLE_EQ(v, 21.5);
    sim->control("set temp 1 none");
    ASSERT_TRUE(fw->GetAll(status));
    EXPECT_EQ(focuser->get_Temperature(&v), E_FAIL);
}

TEST_F(FocuserTest, TempCompSwitchesThePreferredSensor) {
    Start({"--sensors", "4"});
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    int sensor = 99;
    fw->AscomPreferredTermometer = 2;
    EXPECT_EQ(focuser->put_TempComp(VARIANT_TRUE), S_OK);
    ASSERT_TRUE(fw->GetAutoComp(sensor));
    EXPECT_EQ(sensor, 2);
    EXPECT_EQ(LatePut(focuser.Get(), "TempComp", Variant(VARIANT_FALSE)).hr, S_OK);
    ASSERT_TRUE(fw->GetAutoComp(sensor));
    EXPECT_EQ(sensor, -1);
    fw->AscomPreferredTermometer = -1;  // no preferred sensor: "on" switches it off
    EXPECT_EQ(focuser->put_TempComp(VARIANT_TRUE), S_OK);
    ASSERT_TRUE(fw->GetAutoComp(sensor));
    EXPECT_EQ(sensor, -1);
    EXPECT_EQ(CountLines("CFocuser::put_TempComp(-1)\n"), 2);
    EXPECT_EQ(CountLines("CFocuser::put_TempComp(0)\n"), 1);

    // The value read is the status record's sensor index.
    VariantBool on = VARIANT_TRUE;
    fw->AutoComp = -1;
    EXPECT_EQ(focuser->get_TempComp(&on), S_OK);
    EXPECT_EQ(on, VARIANT_FALSE);
    fw->AutoComp = 2;
    EXPECT_EQ(LateGet(focuser.Get(), "tempcomp"), Variant(VARIANT_TRUE));
    EXPECT_EQ(CountLines("CFocuser::get_TempComp(-1)\n"), 1);
    EXPECT_EQ(CountLines("CFocuser::get_TempComp(2)\n"), 1);

    ASSERT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(focuser->put_TempComp(VARIANT_TRUE), E_FAIL);
}

TEST_F(FocuserTest, SecondFocuserHasNoCompensation) {
    MakeFw();
    auto second = Create<IFocuser>(CLSID_Focuser2);
    fw->AutoComp = 1;
    TakeLog();
    VariantBool on = VARIANT_TRUE;
    EXPECT_EQ(second->get_TempComp(&on), S_OK);
    EXPECT_EQ(on, VARIANT_FALSE);
    EXPECT_TRUE(TakeLog().empty());
    EXPECT_EQ(second->put_TempComp(VARIANT_TRUE), E_FAIL);
    EXPECT_EQ(second->put_TempComp(VARIANT_FALSE), E_FAIL);
    EXPECT_EQ(LatePut(second.Get(), "TempComp", Variant(VARIANT_TRUE)).excep.scode, E_FAIL);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CFocuser2::put_TempComp(-1)\n", "CFocuser2::put_TempComp(0)\n",
                                                   "CFocuser2::put_TempComp(-1)\n"}));
}

TEST_F(FocuserTest, HaltIsNotSupportedWithErrorInformation) {
    MakeFw();
    const struct {
        CLSID clsid;
        const char* cls;
        const char* progId;
    } cases[] = {{CLSID_Focuser, "CFocuser", "VELQ3.Focuser"}, {CLSID_Focuser2, "CFocuser2", "VELQ3.Focuser2"}};
    for (const auto& c : cases) {
        auto focuser = Create<IFocuser>(c.clsid);
        ComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(focuser.As(sei), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IFocuser::kIid), S_OK);

        EXPECT_EQ(focuser->Halt(), DISP_E_EXCEPTION);
        const auto info = GetErrorInfo();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->description, "Not Supported");
        EXPECT_EQ(info->iid, IFocuser::kIid);
        EXPECT_EQ(info->source, c.progId);

        const LateCall late = LateCallMethod(focuser.Get(), "HALT");
        EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(late.excep.scode, DISP_E_EXCEPTION);
        EXPECT_EQ(late.excep.description, "Not Supported");
        EXPECT_EQ(late.excep.source, c.progId);
        EXPECT_EQ(CountLines(std::string(c.cls) + "::Halt()\n"), 2);
    }
}

} // namespace
} // namespace velq3::test
