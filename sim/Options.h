// Command line of velq3-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velq3::sim {

struct Options {
  std::string tty;          // serve this existing terminal instead of a new pseudo-terminal
  std::string link;         // symbolic link to the pseudo-terminal
  std::string eeprom;       // memory file
  std::string control;      // control socket path
  std::string controlPortFile;  // control on a loopback TCP port, its number written here
  bool realtime = false;
  bool verbose = false;
  bool vanishExit = false;  // exit after the line vanished instead of opening a new one
  bool exitWithParent = false;  // end when the process that started the simulator ends
  bool exitWithControl = false;  // end when the first control client disconnects
  int replugMs = 500;       // pause between a vanished line and the new one
  size_t microstepTableLen = 33;
  std::optional<uint32_t> seed;
  // Options that have a control-language equivalent, as control lines applied at start.
  std::vector<std::string> controlLines;
  bool help = false;
};

// Parses argv; on a mistake returns nullopt and puts the reason in *error.
std::optional<Options> parseOptions(int argc, const char* const* argv, std::string* error);

std::string usage();

}  // namespace velq3::sim
