#!/usr/bin/env bash
# The X display of one Windows test run (Wine needs X for windows): an Xvfb of its own on a free
# display number, shared by the run's programs.
#   wine-display.sh start   starts Xvfb (-nolisten tcp; the server picks a free number) and
#                           writes ":N" to DIR/display and its process id to DIR/xvfb.pid
#   wine-display.sh stop    ends that Xvfb (by its process id)
# DIR is $VELQ3_WINE_DIR, else $VELQ3_WINE_DEFAULT_DIR.
set -euo pipefail
action=${1:?usage: wine-display.sh start|stop}
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the Wine folder of the test run}}
mkdir -p "$dir"
pidfile="$dir/xvfb.pid"

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  # Only the server this script started: the id must still belong to an Xvfb.
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q Xvfb; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pidfile" "$dir/display"
}

case "$action" in
start)
  command -v Xvfb >/dev/null || { echo "wine-display: Xvfb is missing (Debian package xvfb)" >&2; exit 2; }
  stop
  rm -f "$dir/display.fd"
  # -displayfd: the server takes the first free number and writes it once it listens.
  setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 \
    3>"$dir/display.fd" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    if [ -s "$dir/display.fd" ]; then
      echo ":$(tr -d '[:space:]' <"$dir/display.fd")" >"$dir/display"
      exit 0
    fi
    sleep 0.05
  done
  echo "wine-display: Xvfb did not start (see $dir/xvfb.log)" >&2
  stop
  exit 1
  ;;
stop) stop ;;
*) echo "usage: wine-display.sh start|stop" >&2; exit 2 ;;
esac
