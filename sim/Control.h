// The control language: text lines that change the simulator while it runs (faults, timing,
// sensor readings, firmware variants). The command line uses the same language for its options.
#pragma once

#include <string>
#include <string_view>

#include "sim/Clock.h"
#include "sim/Memory.h"
#include "sim/Model.h"
#include "sim/Settings.h"

namespace velq3::sim {

struct ControlTarget {
  Settings& settings;
  Memory& memory;
  DeviceModel& model;
};

// Applies one control line; returns "ok" or "error: <reason>". Nothing changes on an error.
std::string applyControl(std::string_view line, ControlTarget target, TimePoint now);

// The language summary shown by --help and by the "help" control line.
std::string_view controlHelp();

}  // namespace velq3::sim
