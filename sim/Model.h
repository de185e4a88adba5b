// Physical state of the simulated controller: the turning wheel, the two focuser motors, the
// drifting thermometers, the supply voltage and the outputs. Motions run on the clock and report
// their progress as events.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Clock.h"

namespace velq3::sim {

struct MotionEvent {
  enum class Kind {
    WheelPassed,    // the wheel passed slot `value` on its way
    WheelArrived,   // the wheel stopped at its target slot `value`
    WheelFailed,    // the wheel got stuck; its position is unknown
    HomeDone,       // the wheel found its home mark (slot 0)
    FocuserArrived, // motor `value` reached its target
  };
  Kind kind;
  int value;
  TimePoint at;
};

class DeviceModel {
 public:
  static constexpr int kNoSensor = -32768;
  static constexpr int kSensors = 4;

  explicit DeviceModel(TimePoint now);

  // --- wheel ---
  // Turns the wheel to `target` of `count` slots the shorter way round (forward on a tie); each
  // slot takes slotMs. With `fail` the wheel gets stuck one slot time after the start.
  // Returns the duration of the motion.
  Duration startWheelMove(int target, int count, double slotMs, bool fail, TimePoint start);
  // Turns forward to the home mark at slot 0; with `fail` it never finds it.
  Duration startHoming(int count, double slotMs, bool fail, TimePoint start);
  // Slot as the firmware reports it: -1 while moving or after a failure.
  int wheelReport(TimePoint now) const;
  void setWheel(int slot);

  // --- focusers (motor 0 = first focuser, 1 = second motor) ---
  // Moves the motor to `target` at msPerStep; moves towards lower positions overshoot by
  // `backlash` steps and come back. Returns the duration.
  Duration startFocuserMove(int motor, int target, double msPerStep, int backlash, TimePoint start);
  int focuserPosition(int motor, TimePoint now) const;
  char focuserDirection(int motor) const { return focusers_.at(motor).dir > 0 ? '+' : '-'; }
  bool focuserMoving(int motor) const { return focusers_.at(motor).moving; }
  // Redefines the position; a running move of that motor ends without a report.
  void setFocuserPosition(int motor, int position, TimePoint now);

  // Ends every motion where it stands, without reports (power loss).
  void stopAll(TimePoint now);

  // --- temperature compensation of motor 0 ---
  // Thermometer 0..3 that drives the compensation, -1 = off.
  void setAutoComp(int thermometer, TimePoint now);
  int autoComp() const { return autoComp_; }
  // Compensation strength in tenths of a step per degree.
  void setCompensation(int tenthsOfStepPerDegree) { compTenths_ = tenthsOfStepPerDegree; }

  // --- thermometers, in hundredths of a degree; kNoSensor when absent ---
  int temperature(int index, TimePoint now) const;
  void setSensorCount(int n);
  void pinTemperature(int index, int hundredths);
  void releaseTemperature(int index);  // back to drifting
  void removeSensor(int index);

  // --- supply, outputs, switches ---
  int volt = 1200;   // hundredths of a volt
  uint8_t out = 0;   // output level byte
  uint8_t sw = 0;    // switch bits (low 4)

  // Progress of the motions. nextEventTime() is the earliest pending report; advance() emits, in
  // time order, every report due by `now` and updates the state.
  std::optional<TimePoint> nextEventTime() const;
  void advance(TimePoint now, std::vector<MotionEvent>& out);

  // Applies temperature compensation to an idle motor 0; call before reading positions.
  void update(TimePoint now);

 private:
  struct Wheel {
    int slot = 0;
    bool lost = false;
    bool moving = false;
    bool homing = false;
    bool failing = false;
    TimePoint start{};
    double slotMs = 0;
    int step = 1;
    int slots = 0;     // slots to travel
    int reported = 0;  // slots whose report has been emitted
    int count = 1;
  };
  struct Focuser {
    int pos = 0;
    int dir = 1;
    bool moving = false;
    TimePoint start{};
    int from = 0;
    int turn = 0;      // overshoot point (== target without backlash)
    int target = 0;
    double msPerStep = 1;
  };
  struct Sensor {
    bool present = false;
    std::optional<int> pinned;
    int base = 0;
  };

  TimePoint wheelEventTime() const;
  TimePoint focuserEnd(const Focuser& f) const;
  int focuserPositionAt(const Focuser& f, TimePoint t) const;
  int slotAfter(int from, int n) const;

  TimePoint epoch_;
  Wheel wheel_;
  std::array<Focuser, 2> focusers_{};
  std::array<Sensor, kSensors> sensors_{};
  int autoComp_ = -1;
  int compTenths_ = 0;
  int compRefTemp_ = 0;
  int compRefPos_ = 0;
};

}  // namespace velq3::sim
