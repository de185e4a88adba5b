#!/usr/bin/env bash
# Pictures of the operator windows on Windows: each window (main, filter wheel settings, focuser
# settings, heater, microsteps, graph) opened under Wine on an Xvfb display of its own, saved
# with import and cut to the window, into a folder it prints. Not run in CI.
#   scripts/windows-png.sh [FOLDER]   (default build-windows/pictures)
set -euo pipefail
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
  tests/windows/wine-run.sh build-windows/velq3-ui-show.exe "$w" >"$VELQ3_WINE_DIR/show-$w.log" 2>&1 </dev/null &
  pid=$!
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name '.' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 2  # the first paint
  # The root window holds only this window on black: trimming leaves the window.
  import -window root "$VELQ3_WINE_DIR/root.png"
  convert "$VELQ3_WINE_DIR/root.png" -trim +repage "$out/windows-$w.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '.' >/dev/null 2>&1 || break
    sleep 0.1
  done
done
echo "$out"
