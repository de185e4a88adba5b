// The simulator's event loop: reads commands from the line, runs them on the firmware, sends the
// replies and motion reports on time, applies faults and serves the control channel.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "sim/Clock.h"
#include "sim/ControlSocket.h"
#include "sim/Firmware.h"
#include "sim/Line.h"
#include "sim/Memory.h"
#include "sim/Model.h"
#include "sim/Options.h"
#include "sim/OutputQueue.h"
#include "sim/Protocol.h"
#include "sim/Settings.h"

namespace velq3::sim {

class Simulator {
 public:
  explicit Simulator(Options options);

  // Sets everything up, prints the terminal path and serves until SIGTERM or SIGINT (or a vanish
  // with --vanish-exit). Returns the process exit status.
  int run();

 private:
  bool setUp(std::string* error);
  bool openLine(std::string* error);
  void lineGone(TimePoint now, const char* why);
  void tick(TimePoint now);
  void readLine(TimePoint now);
  void execute(Command&& cmd, TimePoint now);
  void emitMotionEvents(TimePoint now);
  void vanish(TimePoint now);
  // The control line "replug": the line goes away now and a new one comes after --replug-ms.
  std::string replug(TimePoint now);
  std::string control(const std::string& line);
  std::optional<TimePoint> nextWake() const;
  void log(const std::string& text) const;

  Options options_;
  Settings settings_;
  Memory memory_;
  DeviceModel model_;
  Firmware firmware_;
  CommandParser parser_;
  OutputQueue output_;
  std::mt19937 rng_;

  std::unique_ptr<Line> line_;
  std::unique_ptr<Symlink> link_;
  std::unique_ptr<ControlSocket> control_;
  bool outputBlocked_ = false;
  std::optional<TimePoint> reopenAt_;
  TimePoint lastInput_{};
  bool exitNow_ = false;
  std::optional<TimePoint> vanishDeadline_;

  // Fault in force for the running motion of the wheel (0) and of each focuser motor (1, 2).
  std::array<FaultKind, 3> motionFault_{};
  bool foreignPending_ = false;
};

}  // namespace velq3::sim
