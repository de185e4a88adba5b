// velq3-sim start-up: options, then the simulator loop.
#include "sim/App.h"

#include <cstdio>
#include <string>

#include "sim/Options.h"
#include "sim/Simulator.h"

namespace velq3::sim {

int runSimulator(int argc, const char* const* argv) {
  std::string error;
  auto options = parseOptions(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "velq3-sim: %s\nTry 'velq3-sim --help'.\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }
  Simulator sim(std::move(*options));
  return sim.run();
}

}  // namespace velq3::sim
