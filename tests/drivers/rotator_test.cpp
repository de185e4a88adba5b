// The Rotator driver: angles and step targets with N = 1000 steps per turn, the shared
// reverse flag, the fixed members, and a device without steps per turn.
#include <cmath>

#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

class RotatorTest : public DriverTest {
protected:
    // A connected rotator with N = 1000 and the motor at 250.
    ComPtr<IRotator> ConnectedRotator() {
        Start({"--mode", "-1"});
        auto rotator = Create<IRotator>(CLSID_Rotator);
        EXPECT_EQ(rotator->put_Connected(VARIANT_TRUE), S_OK);
        fw->MaxSteps = 1000;
        PlaceMotor(1, 250);
        TakeLog();
        return rotator;
    }
};

TEST_F(RotatorTest, ConnectsOnlyInRotatorMode) {
    Start({"--mode", "0"});
    auto rotator = Create<IRotator>(CLSID_Rotator);
    EXPECT_EQ(rotator->put_Connected(VARIANT_TRUE), E_FAIL);
    EXPECT_FALSE(fw->IsOpen());
    auto log = TakeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "CRotatorImpl::put_Connected(-1)\n");
    EXPECT_NE(log[1].find(") = connect\r\n"), std::string::npos);
    EXPECT_NE(log[2].find(") = Disconnect\r\n"), std::string::npos);

    sim->control("set mode -1");
    EXPECT_EQ(LatePut(rotator.Get(), "Connected", Variant(VARIANT_TRUE)).hr, S_OK);
    EXPECT_EQ(LateGet(rotator.Get(), "Connected"), Variant(VARIANT_TRUE));
    EXPECT_EQ(CountLines("CRotatorImpl::get_Connected(-1)\n"), 1);
}

TEST_F(RotatorTest, AnglesAndTargetsOfTheWorkedExamples) {
    auto rotator = ConnectedRotator();
    float angle = 0;
    EXPECT_EQ(rotator->get_Position(&angle), S_OK);
    EXPECT_EQ(angle, 90.0f);
    EXPECT_EQ(rotator->get_TargetPosition(&angle), S_OK);
    EXPECT_EQ(angle, 90.0f);
    EXPECT_EQ(LateGet(rotator.Get(), "Position"), Variant(90.0f));
    EXPECT_EQ(CountLines("CRotatorImpl::get_Position(90.000000)\n"), 3);

    struct Case {
        bool absolute;
        float degrees;
        int target;
    };
    for (const Case& c : {Case{false, 45, 375}, Case{false, -100, -27}, Case{true, 370, 27}, Case{true, -10, -27},
                          Case{true, 360, 0}, Case{true, 0, 0}}) {
        PlaceMotor(1, 250);
        TakeLog();
        EXPECT_EQ(c.absolute ? rotator->MoveAbsolute(c.degrees) : rotator->Move(c.degrees), S_OK);
        EXPECT_EQ(MotorInDevice(1), c.target) << c.degrees;
        char line[64];
        std::snprintf(line, sizeof line, "CRotatorImpl::Move(%f)\n", c.degrees);
        EXPECT_EQ(CountLines(line), 1);
        // Only the relative move names its target.
        EXPECT_EQ(CountLines("m_FW.GoToPosition(" + std::to_string(c.target) + ")\n"), c.absolute ? 0 : 1);
    }

    // The same through late binding, with the arguments converted to single precision.
    PlaceMotor(1, 250);
    EXPECT_EQ(LateCallMethod(rotator.Get(), "move", {Variant(45.0)}).hr, S_OK);
    EXPECT_EQ(MotorInDevice(1), 375);
    EXPECT_EQ(LateCallMethod(rotator.Get(), "MoveAbsolute", {Variant(Bstr("370"))}).hr, S_OK);
    EXPECT_EQ(MotorInDevice(1), 27);
    // The target reads as the current angle, not as the requested one.
    EXPECT_FLOAT_EQ(LateGet(rotator.Get(), "TargetPosition").Get<float>(), 27 * 0.36f);
}

TEST_F(RotatorTest, ReverseIsSharedAndOnlyMinusOneSetsIt) {
    auto rotator = ConnectedRotator();
    auto other = Create<IRotator>(CLSID_Rotator);
    EXPECT_EQ(rotator->put_Reverse(VARIANT_TRUE), S_OK);
    VariantBool reverse = VARIANT_FALSE;
    EXPECT_EQ(other->get_Reverse(&reverse), S_OK);
    EXPECT_EQ(reverse, VARIANT_TRUE);
    float angle = 0;
    EXPECT_EQ(other->get_Position(&angle), S_OK);
    EXPECT_EQ(angle, 270.0f);
    EXPECT_EQ(rotator->MoveAbsolute(90), S_OK);
    EXPECT_EQ(MotorInDevice(1), 750);
    PlaceMotor(1, 250);
    EXPECT_EQ(rotator->Move(45), S_OK);  // mirrored: backwards
    EXPECT_EQ(MotorInDevice(1), 125);

    EXPECT_EQ(rotator->put_Reverse(VariantBool(1)), S_OK);
    EXPECT_FALSE(fw->RotatorReverse);
    EXPECT_EQ(LatePut(rotator.Get(), "Reverse", Variant(VARIANT_TRUE)).hr, S_OK);
    EXPECT_TRUE(fw->RotatorReverse);
    EXPECT_EQ(LatePut(rotator.Get(), "Reverse", Variant(VariantBool(1))).hr, S_OK);
    EXPECT_FALSE(fw->RotatorReverse);
    EXPECT_EQ(LateGet(rotator.Get(), "reverse"), Variant(VARIANT_FALSE));
    EXPECT_EQ(CountLines("CRotatorImpl::put_Reverse(-1)\n"), 2);
    EXPECT_EQ(CountLines("CRotatorImpl::put_Reverse(1)\n"), 2);
    EXPECT_EQ(CountLines("CRotatorImpl::get_Reverse(-1)\n"), 1);
    EXPECT_EQ(CountLines("CRotatorImpl::get_Reverse(0)\n"), 1);
}

TEST_F(RotatorTest, FixedMembers) {
    MakeFw();
    fw->MaxSteps = 1000;
    auto rotator = Create<IRotator>(CLSID_Rotator);
    Bstr text;
    EXPECT_EQ(rotator->get_Description(&text), S_OK);
    EXPECT_EQ(text, "Orn Rotator driver");
    EXPECT_EQ(rotator->get_DriverInfo(&text), S_OK);
    EXPECT_EQ(text, "Rotator driver");
    EXPECT_EQ(rotator->get_Name(&text), S_OK);
    EXPECT_EQ(text, "Orn Rotator");
    EXPECT_EQ(LateGet(rotator.Get(), "DriverVersion"), Variant(Bstr("3.4")));
    EXPECT_TRUE(TakeLog().empty());  // the strings are not logged

    VariantBool b = VARIANT_FALSE;
    EXPECT_EQ(rotator->get_CanReverse(&b), S_OK);
    EXPECT_EQ(b, VARIANT_TRUE);
    std::int16_t version = 0;
    EXPECT_EQ(rotator->get_InterfaceVersion(&version), S_OK);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(LateGet(rotator.Get(), "InterfaceVersion"), Variant(std::int16_t{1}));
    EXPECT_EQ(rotator->get_IsMoving(&b), S_OK);
    EXPECT_EQ(b, VARIANT_FALSE);
    float step = 0;
    EXPECT_EQ(rotator->get_StepSize(&step), S_OK);
    EXPECT_EQ(step, 0.36f);
    SafeArray<Bstr> actions(std::vector<Bstr>{Bstr("stale")});
    EXPECT_EQ(rotator->get_SupportedActions(&actions), S_OK);
    EXPECT_EQ(actions.size(), 0u);
    EXPECT_EQ(actions.LBound(), 0);
    EXPECT_EQ(LateGet(rotator.Get(), "SupportedActions"), Variant(SafeArray<Bstr>()));
    EXPECT_EQ(rotator->Halt(), E_FAIL);
    EXPECT_FALSE(GetErrorInfo());
    EXPECT_EQ(rotator->SetupDialog(), S_OK);
    EXPECT_EQ(window.fronts, 1);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                             "CRotatorImpl::get_CanReverse(-1)\n", "CRotatorImpl::get_InterfaceVersion(1)\n",
                             "CRotatorImpl::get_InterfaceVersion(1)\n", "CRotatorImpl::get_IsMoving(0)\n",
                             "CRotatorImpl::get_StepSize(0.360000)\n", "CRotatorImpl::get_SupportedActions()\n",
                             "CRotatorImpl::get_SupportedActions()\n", "CRotatorImpl::Halt()\n",
                             "CRotatorImpl::SetupDialog()\n"}));
    // With the link closed a move fails.
    EXPECT_EQ(rotator->Move(10), E_FAIL);
    EXPECT_EQ(rotator->MoveAbsolute(10), E_FAIL);
}

TEST_F(RotatorTest, NoStepsPerTurnNeverFaults) {
    MakeFw();
    fw->MaxSteps = 0;
    auto rotator = Create<IRotator>(CLSID_Rotator);
    float value = 0;
    EXPECT_EQ(rotator->get_StepSize(&value), S_OK);
    EXPECT_TRUE(std::isinf(value));
    fw->Focus2Pos = 0;
    EXPECT_EQ(rotator->get_Position(&value), S_OK);
    EXPECT_TRUE(std::isnan(value));
    fw->Focus2Pos = -5;
    EXPECT_EQ(rotator->get_Position(&value), S_OK);
    EXPECT_TRUE(std::isinf(value) && value < 0);
    TakeLog();
    // Neither move has a target: both fail without sending anything.
    EXPECT_EQ(rotator->Move(45), E_FAIL);
    EXPECT_EQ(rotator->MoveAbsolute(45), E_FAIL);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CRotatorImpl::Move(45.000000)\n", "CRotatorImpl::Move(45.000000)\n"}));

    // An angle that is not a number is refused; a huge one still gives a target within a turn.
    fw->MaxSteps = 1000;
    fw->Focus2Pos = 250;
    EXPECT_EQ(rotator->Move(std::nanf("")), E_INVALIDARG);
    EXPECT_EQ(rotator->MoveAbsolute(INFINITY), E_INVALIDARG);
    TakeLog();
    EXPECT_EQ(rotator->Move(3e38f), E_FAIL);  // the link is closed
    const auto log = TakeLog();
    ASSERT_EQ(log.size(), 2u);
    const int target = std::stoi(log[1].substr(std::string("m_FW.GoToPosition(").size()));
    EXPECT_GT(target, -1000);
    EXPECT_LT(target, 1000);
}

// A failed move loses the second motor's position: the angle is not reported (nor asked of the
// device), and the next relative move reads the position first and goes from there.
TEST_F(RotatorTest, AfterAFailedMoveTheAngleIsUnknownAndTheNextMoveReadsThePositionFirst) {
    auto rotator = ConnectedRotator();  // N = 1000, X = 250
    fw->FocuserSpeed = 300;
    fw->FocuserBacklash = 0;
    sim->control("fault silent FWgoFocus");
    EXPECT_EQ(rotator->Move(10), E_FAIL);  // to 277: a time-out of 2090 ms; the motor stays
    sim->control("fault none");

    float angle = 0;
    EXPECT_EQ(rotator->get_Position(&angle), E_FAIL);
    EXPECT_EQ(rotator->get_TargetPosition(&angle), E_FAIL);
    LateGet(rotator.Get(), "Position", DISP_E_EXCEPTION);
    EXPECT_EQ(CountLines("CRotatorImpl::get_Position() unknown\n"), 3);
    EXPECT_EQ(fw->Focus2Pos, kPositionNotRead);

    // A position that cannot be read sends no move.
    sim->control("fault silent FWfocus");
    EXPECT_EQ(rotator->Move(10), E_FAIL);
    sim->control("fault none");
    EXPECT_EQ(CountLines("m_FW.GoToPosition(277)\n"), 1);

    EXPECT_EQ(rotator->Move(10), S_OK);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(277)\n"), 2);
    EXPECT_EQ(CountLines("m_FW.GoToPosition(242)\n"), 0);
    EXPECT_EQ(MotorInDevice(1), 277);
    EXPECT_EQ(rotator->get_Position(&angle), S_OK);
    EXPECT_FLOAT_EQ(angle, 99.72f);
}

// A controller whose status never carries the second motor (here 16-byte blocks): the angle is
// not reported, and absolute moves go out without a position query; a relative move cannot be
// computed without the position, so it reads it first.
TEST_F(RotatorTest, AStatusWithoutTheSecondMotorAddsNoQueryToReadingsOrAbsoluteMoves) {
    Start({"--mode", "-1", "--all-len", "16"});
    auto rotator = Create<IRotator>(CLSID_Rotator);
    ASSERT_EQ(rotator->put_Connected(VARIANT_TRUE), S_OK);
    fw->MaxSteps = 1000;
    sim->control("set focus 1 250");
    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(s));
    ASSERT_EQ(fw->Focus2Pos, kPositionNotRead);
    float angle = 0;
    EXPECT_EQ(rotator->get_Position(&angle), E_FAIL);
    EXPECT_EQ(fw->Focus2Pos, kPositionNotRead);  // nothing was asked

    sim->control("fault silent FWfocus");  // a query now would fail the move
    EXPECT_EQ(rotator->MoveAbsolute(180), S_OK);
    sim->control("fault none");
    EXPECT_EQ(MotorInDevice(1), 500);
    EXPECT_EQ(rotator->get_Position(&angle), S_OK);
    EXPECT_FLOAT_EQ(angle, 180.0f);

    ASSERT_TRUE(fw->GetAll(s));
    ASSERT_EQ(fw->Focus2Pos, kPositionNotRead);
    EXPECT_EQ(rotator->Move(-10), S_OK);  // from 500: k = 27
    EXPECT_EQ(CountLines("m_FW.GoToPosition(473)\n"), 1);
    EXPECT_EQ(MotorInDevice(1), 473);
}

} // namespace
} // namespace velq3::test
