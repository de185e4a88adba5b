#!/usr/bin/env bash
# Pictures of every window in the night palette, taken in a real X server (Xvfb), into
# build/night-*.png: the control window of `velq3 --night` on the simulated controller, and each
# dialog, the graph, a message box, the file chooser, the port list and the context menu as the
# night window test opens them (which also counts their pixels on the screen).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh imagemagick
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target velq3 velq3-sim test_ui >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

# Settings of their own, so that the run connects to the simulator whatever the user's are.
export VELQ3_HOME="$home"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  build/apps/velq3 --simulate --connect --night 2>"$VELQ3_HOME/velq3.log" &
  pid=$!
  sleep 4   # start-up, connection and a few status polls
  window=$(xdotool search --name "^Orn Filter Wheel & Focuser Control V3.5" | head -n 1)
  /usr/bin/import -window "$window" build/night-velq3-window.png
  kill -TERM $pid
  wait $pid
  QT_QPA_PLATFORM=xcb build/test_ui --gtest_filter="NightTest.EveryWindowIsDeepRedOnBlack" >"$VELQ3_HOME/test.log" 2>&1 ||
    { cat "$VELQ3_HOME/test.log"; exit 1; }
'
ls "$(pwd)"/build/night-*.png
