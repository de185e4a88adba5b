// Command execution of the simulated controller: replies built from the memory and the device model.
#include "sim/Firmware.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace velq3::sim {
namespace {

constexpr uint8_t kAck = '!';
constexpr uint8_t kUnknown = '/';
constexpr int kMinFocuserSpeed = 10;  // steps per second used when the memory says 0

// Quarter sine wave of coil currents, 0..255, as the default microstep table.
Bytes defaultTable(size_t len) {
  Bytes t(len);
  const double steps = len % 2 ? static_cast<double>(len - 1) : static_cast<double>(len);
  for (size_t i = 0; i < len; ++i)
    t[i] = static_cast<uint8_t>(std::lround(255.0 * std::sin(std::numbers::pi / 2 * static_cast<double>(i) / steps)));
  return t;
}

Bytes one(uint8_t b) { return Bytes{b}; }

}  // namespace

Firmware::Firmware(Memory& memory, DeviceModel& model, const Settings& settings, size_t microstepTableLen)
    : memory_(memory), model_(model), settings_(settings), table_(defaultTable(microstepTableLen)) {}

int Firmware::microstepResolution() const {
  return static_cast<int>(table_.size() % 2 ? table_.size() - 1 : table_.size());
}

double Firmware::slotMs() const {
  if (settings_.moveMs) return *settings_.moveMs;
  if (!settings_.realtime) return Settings::kFastSlotMs;
  const unsigned speed = memory_.u16(mem::kWheelSpeed);
  const unsigned steps = memory_.u16(mem::kMaxSteps);
  return speed == 0 ? 1000.0 : 1000.0 * steps / speed;
}

double Firmware::focuserMsPerStep() const {
  const double speed = std::max<double>(memory_.u16(mem::kFocuserSpeed), kMinFocuserSpeed);
  const double speedup = settings_.focusSpeedup.value_or(settings_.realtime ? 1.0 : Settings::kFastFocusSpeedup);
  return 1000.0 / speed / std::max(speedup, 1e-3);
}

int Firmware::motorOf(const Command& cmd) {
  // The two-motor form carries one more byte; telling the forms apart by size keeps the
  // decision that the parser made when it collected the payload.
  const size_t oneMotorSize = cmd.cmd == Cmd::Focus || cmd.cmd == Cmd::DirFocus ? 0 : 2;
  return cmd.payload.size() > oneMotorSize && cmd.payload[0] != 0 ? 1 : 0;
}

Bytes Firmware::persist() {
  std::string error;
  if (memory_.save(&error)) return one(kAck);
  std::fprintf(stderr, "velq3-sim: %s\n", error.c_str());
  return one(kRefused);
}

Bytes Firmware::statusBlock(TimePoint now) const {
  Bytes b;
  b.push_back(digitChar(memory_.filterCount() > 0 ? model_.wheelReport(now) : -1));
  b.push_back(static_cast<uint8_t>(model_.focuserDirection(0)));
  putS16(b, model_.focuserPosition(0, now));
  for (int i = 0; i < DeviceModel::kSensors; ++i) putS16(b, model_.temperature(i, now));
  b.push_back(digitChar(model_.autoComp()));
  putS16(b, model_.volt);
  b.push_back(model_.out);
  b.push_back(static_cast<uint8_t>(model_.focuserDirection(1)));
  putS16(b, model_.focuserPosition(1, now));
  uint8_t sw = model_.sw & 0x0F;
  if (memory_.mode() == -2 && memory_.byte(mem::kHomeMark) == 1) {
    // Cover with end-stop sensors: bit 0 open (second motor at its full travel), bit 1 closed.
    const int pos = model_.focuserPosition(1, now);
    sw = static_cast<uint8_t>((sw & 0x0C) | (pos >= memory_.u16(mem::kMaxSteps) ? 1 : 0) | (pos <= 0 ? 2 : 0));
  }
  b.push_back(sw);
  return b;
}

Firmware::Outcome Firmware::execute(const Command& cmd, TimePoint at, bool failMotion) {
  const Bytes& p = cmd.payload;
  model_.setCompensation(memory_.s16(mem::kCompensation) * (settings_.memorySize >= 163 ? 1 : 10));
  model_.update(at);
  const size_t size = static_cast<size_t>(std::clamp(settings_.memorySize, 0, static_cast<int>(Memory::kCapacity)));

  switch (cmd.cmd) {
    case Cmd::EeSize: {
      if (settings_.eesize == Settings::Answer::Off) return {};
      Bytes r;
      putS16(r, settings_.eesize == Settings::Answer::Raw ? settings_.eesizeRaw : settings_.memorySize);
      return {r, {}};
    }
    case Cmd::ReadEE: {
      // Only bytes inside the memory size exist: a read past it answers the bytes up to the end.
      const size_t offset = p[0];
      if (offset >= size) return {Bytes{}, {}};
      const auto begin = memory_.bytes().begin() + static_cast<std::ptrdiff_t>(offset);
      return {Bytes(begin, begin + static_cast<std::ptrdiff_t>(std::min<size_t>(p[1], size - offset))), {}};
    }
    case Cmd::WriteEE: {
      // A write reaching past the memory size is refused as a whole.
      const size_t offset = p[0];
      const size_t n = p[1];
      if (offset + n > size) return {one(kRefused), {}};
      memory_.write(offset, p.data() + 2, n);
      return {persist(), {}};
    }
    case Cmd::Filter:
      return {one(digitChar(memory_.filterCount() > 0 ? model_.wheelReport(at) : -1)), {}};
    case Cmd::WriteName: {
      const int index = p[0] - '0';
      if (index < 0 || index >= mem::kMaxFilters) return {one(kRefused), {}};
      memory_.write(mem::kFilterNames + mem::kNameLength * index, p.data() + 1, mem::kNameLength);
      return {persist(), {}};
    }
    case Cmd::Temperature: {
      Bytes r;
      putS16(r, model_.temperature(p[0] - '0', at));
      return {r, {}};
    }
    case Cmd::Focus: {
      Bytes r;
      putS16(r, model_.focuserPosition(motorOf(cmd), at));
      return {r, {}};
    }
    case Cmd::SetFocus:
      model_.setFocuserPosition(motorOf(cmd), getS16(p.data() + p.size() - 2), at);
      return {one(kAck), {}};
    case Cmd::DirFocus:
      return {one(static_cast<uint8_t>(model_.focuserDirection(motorOf(cmd)))), {}};
    case Cmd::AutoCompSet: {
      const int t = p[0] - '0';
      if (t < -1 || t > 3) return {one(kRefused), {}};
      model_.setAutoComp(t, at);
      return {one(kAck), {}};
    }
    case Cmd::IsAuto:
      return {one(digitChar(model_.autoComp())), {}};
    case Cmd::UbStep:
      return {Bytes{memory_.byte(mem::kMicrostepIncrement), static_cast<uint8_t>(microstepResolution())}, {}};
    case Cmd::Zm: {
      Bytes r{static_cast<uint8_t>(table_.size())};
      r.insert(r.end(), table_.begin(), table_.end());
      return {r, {}};
    }
    case Cmd::Ym:
      table_ = p;
      return {one(kAck), {}};
    case Cmd::Volt: {
      Bytes r;
      putS16(r, model_.volt);
      r.push_back(model_.out);
      return {r, {}};
    }
    case Cmd::All: {
      if (settings_.all == Settings::Answer::Off) return {};
      const int len = settings_.all == Settings::Answer::Raw ? std::clamp(settings_.allLength, 0, 255)
                                                             : Settings::kFullAllLength;
      Bytes block = statusBlock(at);
      block.resize(static_cast<size_t>(len), 0);  // cut, or pad with zeros past the known fields
      Bytes r{static_cast<uint8_t>(len)};
      r.insert(r.end(), block.begin(), block.end());
      return {r, {}};
    }
    case Cmd::Home: {
      const int count = memory_.filterCount();
      if (count <= 0) return {one(kUnknown), {}};
      return {Bytes{}, model_.startHoming(count, slotMs(), failMotion, at)};
    }
    case Cmd::Goto: {
      const int count = memory_.filterCount();
      const int target = p[0] - '0';
      if (count <= 0 || target < 0 || target >= count) return {one(kUnknown), {}};
      return {Bytes{}, model_.startWheelMove(target, count, slotMs(), failMotion, at)};
    }
    case Cmd::GoFocus: {
      const int backlash = memory_.u16(mem::kBacklash);
      return {Bytes{}, model_.startFocuserMove(motorOf(cmd), getS16(p.data() + p.size() - 2), focuserMsPerStep(), backlash, at)};
    }
  }
  return {};
}

}  // namespace velq3::sim
