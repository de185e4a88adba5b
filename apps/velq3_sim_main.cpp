// velq3-sim: the controller simulator at the far end of a (pseudo-)serial line.
#include "sim/App.h"

int main(int argc, char** argv) { return velq3::sim::runSimulator(argc, argv); }
