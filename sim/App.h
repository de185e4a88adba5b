// Entry point of the velq3-sim program.
#pragma once

namespace velq3::sim {

int runSimulator(int argc, const char* const* argv);

}  // namespace velq3::sim
