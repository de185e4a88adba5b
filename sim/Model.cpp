// Motions on the clock, drifting thermometers and temperature compensation of the simulated controller.
#include "sim/Model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace velq3::sim {
namespace {

constexpr int kBaseTemperature[DeviceModel::kSensors] = {1500, 1250, 1000, 800};
constexpr double kDriftAmplitude = 30.0;   // hundredths of a degree
constexpr double kDriftPeriodS = 600.0;    // one slow swing every ten minutes

int sign(int v) { return v < 0 ? -1 : 1; }

}  // namespace

DeviceModel::DeviceModel(TimePoint now) : epoch_(now) {
  for (int i = 0; i < kSensors; ++i) sensors_[i].base = kBaseTemperature[i];
  setSensorCount(2);
}

// ---------------------------------------------------------------------------------------------
// Wheel

int DeviceModel::slotAfter(int from, int n) const {
  const int c = std::max(wheel_.count, 1);
  return ((from + n * wheel_.step) % c + c) % c;
}

Duration DeviceModel::startWheelMove(int target, int count, double slotMs, bool fail, TimePoint start) {
  const int cur = wheel_.slot % std::max(count, 1);
  const int forward = ((target - cur) % count + count) % count;
  const int backward = ((cur - target) % count + count) % count;
  wheel_ = Wheel{.slot = cur, .moving = true, .failing = fail, .start = start, .slotMs = slotMs,
                 .step = forward <= backward ? 1 : -1, .slots = std::min(forward, backward), .count = count};
  return fail ? millis(slotMs) : millis(slotMs * wheel_.slots);
}

Duration DeviceModel::startHoming(int count, double slotMs, bool fail, TimePoint start) {
  const int cur = wheel_.slot % std::max(count, 1);
  const int distance = fail ? count : (count - cur) % count;
  wheel_ = Wheel{.slot = cur, .moving = true, .homing = true, .failing = fail, .start = start, .slotMs = slotMs,
                 .step = 1, .slots = distance, .count = count};
  return millis(slotMs * distance);
}

TimePoint DeviceModel::wheelEventTime() const {
  if (wheel_.homing) return wheel_.start + millis(wheel_.slotMs * wheel_.slots);
  if (wheel_.failing) return wheel_.start + millis(wheel_.slotMs);
  // Report r (1-based) comes after r slot times; a move to where the wheel stands reports at once.
  return wheel_.start + millis(wheel_.slotMs * std::min(wheel_.reported + 1, wheel_.slots));
}

int DeviceModel::wheelReport(TimePoint) const {
  return wheel_.moving || wheel_.lost ? -1 : wheel_.slot;
}

void DeviceModel::setWheel(int slot) {
  wheel_ = Wheel{};
  wheel_.slot = slot;
}

// ---------------------------------------------------------------------------------------------
// Focusers

Duration DeviceModel::startFocuserMove(int motor, int target, double msPerStep, int backlash, TimePoint start) {
  Focuser& f = focusers_.at(motor);
  const int from = focuserPositionAt(f, start);
  const int turn = target < from ? target - std::max(backlash, 0) : target;
  f = Focuser{.pos = from, .dir = target == from ? f.dir : sign(target - from), .moving = true, .start = start,
              .from = from, .turn = turn, .target = target, .msPerStep = msPerStep};
  return focuserEnd(f) - start;
}

TimePoint DeviceModel::focuserEnd(const Focuser& f) const {
  const int steps = std::abs(f.turn - f.from) + std::abs(f.target - f.turn);
  return f.start + millis(steps * f.msPerStep);
}

int DeviceModel::focuserPositionAt(const Focuser& f, TimePoint t) const {
  if (!f.moving) return f.pos;
  if (t <= f.start) return f.from;
  const double steps = toMillis(t - f.start) / f.msPerStep;
  const int first = std::abs(f.turn - f.from);
  const int second = std::abs(f.target - f.turn);
  if (steps < first) return f.from + sign(f.turn - f.from) * static_cast<int>(steps);
  if (steps < first + second) return f.turn + sign(f.target - f.turn) * static_cast<int>(steps - first);
  return f.target;
}

int DeviceModel::focuserPosition(int motor, TimePoint now) const {
  return focuserPositionAt(focusers_.at(motor), now);
}

void DeviceModel::setFocuserPosition(int motor, int position, TimePoint now) {
  Focuser& f = focusers_.at(motor);
  f.moving = false;
  f.pos = position;
  if (motor == 0) {
    compRefPos_ = position;
    compRefTemp_ = autoComp_ >= 0 ? temperature(autoComp_, now) : 0;
  }
}

void DeviceModel::stopAll(TimePoint now) {
  if (wheel_.moving) {
    std::vector<MotionEvent> ignored;
    advance(now, ignored);
    wheel_.moving = false;
  }
  for (int m = 0; m < 2; ++m)
    if (focusers_[m].moving) setFocuserPosition(m, focuserPosition(m, now), now);
}

// ---------------------------------------------------------------------------------------------
// Progress

std::optional<TimePoint> DeviceModel::nextEventTime() const {
  std::optional<TimePoint> next;
  auto consider = [&next](TimePoint t) {
    if (!next || t < *next) next = t;
  };
  if (wheel_.moving) consider(wheelEventTime());
  for (const auto& f : focusers_)
    if (f.moving) consider(focuserEnd(f));
  return next;
}

void DeviceModel::advance(TimePoint now, std::vector<MotionEvent>& out) {
  for (;;) {
    const auto next = nextEventTime();
    if (!next || *next > now) return;
    const TimePoint t = *next;
    if (wheel_.moving && wheelEventTime() == t) {
      if (wheel_.homing && !wheel_.failing) {
        wheel_.slot = 0;
        wheel_.moving = false;
        out.push_back({MotionEvent::Kind::HomeDone, 0, t});
      } else if (wheel_.failing) {
        wheel_.moving = false;
        wheel_.lost = true;
        out.push_back({MotionEvent::Kind::WheelFailed, -1, t});
      } else {
        ++wheel_.reported;
        wheel_.slot = slotAfter(wheel_.slot, wheel_.slots > 0 ? 1 : 0);
        if (wheel_.reported >= wheel_.slots) {
          wheel_.moving = false;
          out.push_back({MotionEvent::Kind::WheelArrived, wheel_.slot, t});
        } else {
          out.push_back({MotionEvent::Kind::WheelPassed, wheel_.slot, t});
        }
      }
      continue;
    }
    for (int m = 0; m < 2; ++m) {
      Focuser& f = focusers_[m];
      if (f.moving && focuserEnd(f) == t) {
        setFocuserPosition(m, f.target, t);
        out.push_back({MotionEvent::Kind::FocuserArrived, m, t});
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Thermometers and compensation

int DeviceModel::temperature(int index, TimePoint now) const {
  if (index < 0 || index >= kSensors || !sensors_[index].present) return kNoSensor;
  const Sensor& s = sensors_[index];
  if (s.pinned) return *s.pinned;
  const double t = std::chrono::duration<double>(now - epoch_).count();
  return s.base + static_cast<int>(std::lround(kDriftAmplitude * std::sin(2 * std::numbers::pi * t / kDriftPeriodS + index)));
}

void DeviceModel::setSensorCount(int n) {
  for (int i = 0; i < kSensors; ++i) sensors_[i].present = i < n;
}

void DeviceModel::pinTemperature(int index, int hundredths) {
  sensors_.at(index).present = true;
  sensors_.at(index).pinned = hundredths;
}

void DeviceModel::releaseTemperature(int index) {
  sensors_.at(index).present = true;
  sensors_.at(index).pinned.reset();
}

void DeviceModel::removeSensor(int index) { sensors_.at(index).present = false; }

void DeviceModel::setAutoComp(int thermometer, TimePoint now) {
  autoComp_ = thermometer;
  setFocuserPosition(0, focuserPosition(0, now), now);
}

void DeviceModel::update(TimePoint now) {
  if (autoComp_ < 0 || compTenths_ == 0 || focusers_[0].moving) return;
  const int t = temperature(autoComp_, now);
  if (t == kNoSensor) return;
  // hundredths of a degree times tenths of a step per degree -> steps
  focusers_[0].pos = compRefPos_ + static_cast<int>((static_cast<long>(t) - compRefTemp_) * compTenths_ / 1000);
}

}  // namespace velq3::sim
