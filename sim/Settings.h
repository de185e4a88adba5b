// Run-time settings of the simulator that the command line and the control channel change.
#pragma once

#include <optional>

#include "sim/Faults.h"

namespace velq3::sim {

struct Settings {
  enum class Answer { Auto, Raw, Off };

  static constexpr int kFullAllLength = 20;
  static constexpr double kFastSlotMs = 20;        // per wheel slot in fast mode
  static constexpr double kFastFocusSpeedup = 50;  // focusers in fast mode vs the memory speed

  int memorySize = 202;              // "FWeesize" answer and the readable/writable range
  Answer eesize = Answer::Auto;      // Auto: memorySize; Raw: eesizeRaw; Off: no answer
  int eesizeRaw = 0;
  Answer all = Answer::Auto;         // Auto: L = 20; Raw: L = allLength; Off: no answer
  int allLength = kFullAllLength;
  bool realtime = false;             // pace outgoing bytes at 9600 baud, motions at memory speeds
  std::optional<double> moveMs;      // time per wheel slot, overriding the default
  std::optional<double> focusSpeedup;
  FaultSetting fault;
  int slowMs = 0;                    // delay before acting on and answering each command
  bool verbose = false;
};

}  // namespace velq3::sim
