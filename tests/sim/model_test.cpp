// Tests of the device model: wheel and focuser motions on a clock that the test drives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Model.h"

namespace velq3::sim {
namespace {

using K = MotionEvent::Kind;

class ModelTest : public ::testing::Test {
 protected:
  TimePoint t0 = Clock::now();
  DeviceModel model{t0};

  TimePoint at(double ms) const { return t0 + millis(ms); }

  // Advances the model to `ms` and describes the reports: digits for slots, '/' for a failure,
  // '!' for the end of homing, 'f0'/'f1' for focuser arrivals.
  std::string runUntil(double ms) {
    std::vector<MotionEvent> events;
    model.advance(at(ms), events);
    std::string s;
    for (const auto& e : events) {
      switch (e.kind) {
        case K::WheelPassed: case K::WheelArrived: s += char('0' + e.value); break;
        case K::WheelFailed: s += '/'; break;
        case K::HomeDone: s += '!'; break;
        case K::FocuserArrived: s += "f" + std::to_string(e.value); break;
      }
    }
    return s;
  }
};

TEST_F(ModelTest, WheelTakesTheShorterWayAndReportsEverySlotOnTime) {
  EXPECT_EQ(model.startWheelMove(3, 7, 100, false, t0), millis(300));
  EXPECT_EQ(model.wheelReport(at(10)), -1);
  EXPECT_EQ(runUntil(150), "1");
  EXPECT_EQ(runUntil(1000), "23");
  EXPECT_EQ(model.wheelReport(at(1000)), 3);
  // From 3 to 0 of 7: backward 3 beats forward 4.
  model.startWheelMove(0, 7, 100, false, at(1000));
  EXPECT_EQ(runUntil(2000), "210");
  // A tie (3 each way on 6 slots) goes forward.
  model.startWheelMove(3, 6, 100, false, at(2000));
  EXPECT_EQ(runUntil(3000), "123");
  // Already there: the target is reported at once.
  model.startWheelMove(3, 6, 100, false, at(3000));
  EXPECT_EQ(runUntil(3000), "3");
}

TEST_F(ModelTest, StuckWheelReportsFailureAndIsLostUntilTheNextMove) {
  model.startWheelMove(5, 7, 100, true, t0);
  EXPECT_EQ(runUntil(99), "");
  EXPECT_EQ(runUntil(100), "/");
  EXPECT_EQ(model.wheelReport(at(200)), -1);
  model.startWheelMove(1, 7, 100, false, at(200));
  EXPECT_EQ(runUntil(1000), "1");
  EXPECT_EQ(model.wheelReport(at(1000)), 1);
}

TEST_F(ModelTest, HomingTurnsForwardToSlotZero) {
  model.setWheel(5);
  EXPECT_EQ(model.startHoming(7, 10, false, t0), millis(20));
  EXPECT_EQ(runUntil(19), "");
  EXPECT_EQ(runUntil(20), "!");
  EXPECT_EQ(model.wheelReport(at(20)), 0);
}

TEST_F(ModelTest, FocuserMovesAtItsSpeedAndOvershootsByTheBacklashGoingDown) {
  EXPECT_EQ(model.startFocuserMove(0, 100, 2.0, 20, t0), millis(200));
  EXPECT_EQ(model.focuserPosition(0, at(100)), 50);
  EXPECT_EQ(model.focuserDirection(0), '+');
  EXPECT_EQ(runUntil(200), "f0");
  EXPECT_EQ(model.focuserPosition(0, at(200)), 100);
  // Down to 60: 40 + 20 steps beyond, then 20 back.
  EXPECT_EQ(model.startFocuserMove(0, 60, 1.0, 20, at(200)), millis(80));
  EXPECT_EQ(model.focuserDirection(0), '-');
  EXPECT_EQ(model.focuserPosition(0, at(260)), 40);
  EXPECT_EQ(runUntil(280), "f0");
  EXPECT_EQ(model.focuserPosition(0, at(300)), 60);
  EXPECT_EQ(model.focuserPosition(1, at(300)), 0);  // the second motor did not move
}

TEST_F(ModelTest, SettingThePositionEndsAMoveWithoutReport) {
  model.startFocuserMove(1, 500, 1.0, 0, t0);
  model.setFocuserPosition(1, 7, at(100));
  EXPECT_FALSE(model.nextEventTime().has_value());
  EXPECT_EQ(runUntil(1000), "");
  EXPECT_EQ(model.focuserPosition(1, at(1000)), 7);
}

TEST_F(ModelTest, ThermometersDriftSlowlyCanBePinnedAndRemoved) {
  const int first = model.temperature(0, t0);
  EXPECT_NEAR(model.temperature(0, at(1000)), first, 5);
  EXPECT_NE(model.temperature(1, t0), DeviceModel::kNoSensor);
  EXPECT_EQ(model.temperature(2, t0), DeviceModel::kNoSensor);
  model.pinTemperature(2, -1234);
  EXPECT_EQ(model.temperature(2, at(5000)), -1234);
  model.removeSensor(0);
  EXPECT_EQ(model.temperature(0, t0), DeviceModel::kNoSensor);
  model.setSensorCount(4);
  EXPECT_NE(model.temperature(3, t0), DeviceModel::kNoSensor);
  EXPECT_EQ(model.temperature(4, t0), DeviceModel::kNoSensor);
}

TEST_F(ModelTest, CompensationFollowsTheThermometerWhileTheFocuserIsIdle) {
  model.setFocuserPosition(0, 1000, t0);
  model.pinTemperature(1, 1000);
  model.setCompensation(50);  // 5 steps per degree
  model.setAutoComp(1, t0);
  model.pinTemperature(1, 800);  // two degrees colder
  model.update(at(10));
  EXPECT_EQ(model.focuserPosition(0, at(10)), 990);
  model.setAutoComp(-1, at(20));
  model.pinTemperature(1, 0);
  model.update(at(30));
  EXPECT_EQ(model.focuserPosition(0, at(30)), 990);
}

}  // namespace
}  // namespace velq3::sim
