#!/usr/bin/env bash
# Sets up, builds and runs the program against the simulated controller (or against a real
# one: scripts/run.sh /dev/ttyUSB0).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
if [ $# -gt 0 ]; then
  exec build/apps/velq3-probe "$@"
fi
state=${VELQ3_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/velq3}
mkdir -p "$state"
tty="$state/sim-tty"
rm -f "$tty"
build/apps/velq3-sim --eeprom "$state/sim-eeprom.bin" --link "$tty" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$tty" ] && break; sleep 0.1; done
echo "simulated controller on $(readlink "$tty")"
build/apps/velq3-probe "$tty"
