#!/usr/bin/env bash
# Takes a picture of the control window, connected to the simulated controller, in a real X
# server (Xvfb): scripts/screenshot.sh [OUT.png [velq3 options...]]   (default build/velq3-window.png),
# e.g. scripts/screenshot.sh build/velq3-200.png --scale 200
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/velq3-window.png}")
shift $(( $# > 0 ? 1 : 0 ))

scripts/setup.sh x11-apps imagemagick
scripts/build.sh release
mkdir -p "$(dirname "$out")"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

# Settings of their own, so that the run connects to the simulator whatever the user's are.
export VELQ3_HOME="$home"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  out=$1; shift
  build/apps/velq3 --simulate --connect "$@" 2>"$VELQ3_HOME/velq3.log" &
  pid=$!
  sleep 4   # start-up, connection and a few status polls
  xwd -silent -name "Orn Filter Wheel & Focuser Control V3.5" | /usr/bin/convert xwd:- "$out"
  kill -TERM $pid
  wait $pid
' screenshot "$out" "$@"
echo "window picture: $out"
