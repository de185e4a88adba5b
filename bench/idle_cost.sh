#!/usr/bin/env bash
# Idle cost of velq3 with its window open and the 1 Hz status poll running against the
# simulator: CPU share of one core and resident memory over a run (default 60 s).
# Usage: bench/idle_cost.sh [SECONDS] (after scripts/build.sh release).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
home=$(mktemp -d); trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$home"' EXIT
VELQ3_HOME=$home build/apps/velq3 --simulate --connect >/dev/null 2>&1 &
pid=$!
sleep 5  # start-up and connection are not idle time
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
c0=$(cpu); t0=$(date +%s.%N)
sleep "$seconds"
c1=$(cpu); t1=$(date +%s.%N)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" -v rss="$rss" 'BEGIN {
  share = 100 * (c1 - c0) / hz / (t1 - t0);
  printf "velq3 idle with window and 1 Hz poll: %.2f %% of one core over %.0f s (target < 0.5 %%: %s); resident %.1f MB (target < 80 MB: %s)\n",
         share, t1 - t0, share < 0.5 ? "met" : "MISSED", rss / 1024, rss / 1024 < 80 ? "met" : "MISSED" }'
