#!/usr/bin/env bash
# Renders the microsteps dialog with a generated sine table (and, next to it, a "Tan" table)
# into PNG files for a person to look at: scripts/microsteps-png.sh [BUILD_DIR] (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$dir" --target test_ui >/dev/null
QT_QPA_PLATFORM=offscreen "$dir/test_ui" --gtest_filter='MicrostepsTest.PaintsTheWaveform*' >/dev/null
echo "$(pwd)/$dir/microsteps.png"
echo "$(pwd)/$dir/microsteps-tan.png"
