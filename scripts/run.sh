#!/usr/bin/env bash
# Sets up, builds and runs the control window against the simulated controller (on COM1), or
# probes a real controller: scripts/run.sh /dev/ttyUSB0.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
if [ $# -gt 0 ]; then
  exec build/apps/velq3-probe "$@"
fi
exec build/apps/velq3 --simulate
