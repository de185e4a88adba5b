// The simulated controller firmware: executes one parsed command against the memory and the
// device model and produces its immediate reply; motions report later through the model.
#pragma once

#include <optional>

#include "sim/Bytes.h"
#include "sim/Clock.h"
#include "sim/Memory.h"
#include "sim/Model.h"
#include "sim/Protocol.h"
#include "sim/Settings.h"

namespace velq3::sim {

class Firmware {
 public:
  // Refusal byte for requests the firmware does not accept (bad index, memory out of range).
  static constexpr uint8_t kRefused = '?';

  Firmware(Memory& memory, DeviceModel& model, const Settings& settings, size_t microstepTableLen);

  struct Outcome {
    std::optional<Bytes> reply;        // nullopt: the firmware does not answer this command
    std::optional<Duration> motion;    // a motion started; its reports come as model events
  };
  // `at` is when the firmware acts (motions start then); `failMotion` makes a wheel motion stick.
  Outcome execute(const Command& cmd, TimePoint at, bool failMotion);

  const Bytes& microstepTable() const { return table_; }
  // Microsteps per full step that "FWubStep" reports for the table.
  int microstepResolution() const;

  double slotMs() const;
  double focuserMsPerStep() const;

  // The motor a focuser command addresses: 1 when its two-motor form names focuser 1, else 0.
  static int motorOf(const Command& cmd);

 private:
  Bytes statusBlock(TimePoint now) const;
  Bytes persist();

  Memory& memory_;
  DeviceModel& model_;
  const Settings& settings_;
  Bytes table_;
};

}  // namespace velq3::sim
