#!/usr/bin/env bash
# The controller simulator behind COM1 of the test run's Wine prefix (ctest fixture):
#   com1-sim.sh start SIM   starts the Linux velq3-sim on a pseudo-terminal whose link is the
#                           path COM1 is mapped to (DIR/com1), its log of received command words
#                           in DIR/sim.log
#   com1-sim.sh stop        ends the simulator this script started (by its process id)
# DIR is $VELQ3_WINE_DIR, else $VELQ3_WINE_DEFAULT_DIR.
set -euo pipefail
action=${1:?usage: com1-sim.sh start SIM | stop}
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the Wine folder of the test run}}
pidfile="$dir/sim.pid"

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  # Only the simulator this script started: the id must still belong to a velq3-sim.
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q velq3-sim; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pidfile"
}

case "$action" in
start)
  sim=${2:?usage: com1-sim.sh start SIM}
  if [ ! -x "$sim" ]; then
    echo "com1-sim: no simulator at $sim (build velq3-sim in the Linux tree, or set VELQ3_LINUX_SIM)" >&2
    exit 2
  fi
  stop
  rm -f "$dir/com1"
  mkdir -p "$dir/sim"
  rm -f "$dir/sim/eeprom.bin"  # each run starts from the simulator's default memory
  setsid "$sim" --link "$dir/com1" --eeprom "$dir/sim/eeprom.bin" --verbose \
    </dev/null >"$dir/sim/stdout.log" 2>"$dir/sim.log" &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    [ -L "$dir/com1" ] && exit 0
    sleep 0.05
  done
  echo "com1-sim: the simulator did not make $dir/com1" >&2
  stop
  exit 1
  ;;
stop) stop ;;
*) echo "usage: com1-sim.sh start SIM | stop" >&2; exit 2 ;;
esac
