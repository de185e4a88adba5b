#!/usr/bin/env bash
# Pictures of the operator windows on Windows: each window (main, filter wheel settings, focuser
# settings, heater, microsteps, graph) opened under Wine on an Xvfb display of its own, saved
# with import and cut to the window, into a folder it prints. Not run in CI.
#   scripts/windows-png.sh [--night] [--scale PERCENT] [FOLDER]   (default build-windows/pictures)
# --night shows the night palette, --scale a scale of the windows; the pictures' names say which
# (windows-main-night-150.png).
set -euo pipefail
look=()
suffix=
while [ $# -gt 0 ]; do
  case $1 in
    --night) look+=(--night); suffix+=-night; shift ;;
    --scale) [ $# -ge 2 ] || { echo "windows-png.sh: --scale needs a percentage" >&2; exit 2; }
             look+=(--scale "$2"); suffix+=-${2%\%}; shift 2 ;;
    -*) echo "usage: scripts/windows-png.sh [--night] [--scale PERCENT] [FOLDER]" >&2; exit 2 ;;
    *) break ;;
  esac
done
cd "$(dirname "$0")/.."
scripts/setup.sh imagemagick >/dev/null
VELQ3_WINDOWS_CMAKE_ARGS=${VELQ3_WINDOWS_CMAKE_ARGS:-} scripts/build-windows.sh velq3-ui-show >/dev/null
out=${1:-$(pwd)/build-windows/pictures}
mkdir -p "$out"
out=$(cd "$out" && pwd)
VELQ3_WINE_DIR=$(pwd)/build-windows/wine-png
export VELQ3_WINE_DIR
tests/windows/wine-prefix.sh setup >/dev/null
trap 'tests/windows/wine-prefix.sh cleanup >/dev/null' EXIT
DISPLAY=$(cat "$VELQ3_WINE_DIR/display")
export DISPLAY

for w in main wheel_settings focuser_settings heater microsteps graph; do
  tests/windows/wine-run.sh build-windows/velq3-ui-show.exe "$w" ${look[@]+"${look[@]}"} >"$VELQ3_WINE_DIR/show-$w.log" 2>&1 </dev/null &
  pid=$!
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name '.' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 2  # the first paint
  # The root window holds only this window on black: trimming leaves the window.
  import -window root "$VELQ3_WINE_DIR/root.png"
  convert "$VELQ3_WINE_DIR/root.png" -trim +repage "$out/windows-$w$suffix.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '.' >/dev/null 2>&1 || break
    sleep 0.1
  done
done
echo "$out"
