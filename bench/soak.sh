#!/usr/bin/env bash
# Night soak with sped-up time: velq3 --service --simulate with its calendar clock and timers
# running SCALE times as fast (VELQ3_TIME_SCALE), the calendar starting at 11:50 so that the run
# passes the temperature log's noon roll-over, and the clients of bench_soak for HOURS simulated
# hours: ten Alpaca pollers at 2 Hz simulated time, one mover every simulated minute. Reports
# resident memory, open descriptors, client errors and temperature-log lines, and exits non-zero
# when one is out of bounds.
# Usage: bench/soak.sh HOURS (0 < HOURS <= 23; after scripts/build.sh release). SCALE is 60 (12 h
# in 12 minutes) unless SOAK_SCALE says otherwise; SOAK_TRACE=FILE keeps one reading per second.
# The 10 000-sample history cap is passed after 10 000 ticks of 5 s: runs of 14 h or more.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: bench/soak.sh HOURS (a number of simulated hours, 0 < HOURS <= 23)" >&2; exit 2; }
[ $# -eq 1 ] || usage
hours=$1
scale=${SOAK_SCALE:-60}
awk -v h="$hours" 'BEGIN { exit !(h ~ /^[0-9]+(\.[0-9]+)?$/ && h > 0 && h <= 23) }' || usage
awk -v s="$scale" 'BEGIN { exit !(s ~ /^[0-9]+(\.[0-9]+)?$/ && s >= 1 && s <= 1000) }' ||
  { echo "soak: SOAK_SCALE must be a number 1..1000" >&2; exit 2; }
for program in build/apps/velq3 build/apps/velq3-sim build/bench/bench_soak; do
  [ -x "$program" ] || { echo "soak: $program is missing (scripts/build.sh release builds it)" >&2; exit 1; }
done

# The log's file names and its noon follow local time: a fixed zone makes both known. Starting at
# 11:50, every run up to 23 h writes two files: the night of 6 December until noon, then the 7th.
export TZ=UTC0
export VELQ3_TIME_SCALE=$scale
export VELQ3_TIME_START=2026-12-07T11:50:00
files=2

# The temperature log needs a folder: the user's settings name one before the service starts.
before_service_start() {
  mkdir -m 700 "$1/config" "$1/termlog"
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\ASCOM\\Settings\\OrnFocuserV3]\n"TermLogPath"="%s"\n' \
    "$1/termlog" >"$1/config/user.reg"
}
who=soak
. scripts/service-on-free-port.sh
echo "soak: velq3 (pid $pid) on port $port; $(grep -m1 'time runs' "$home/velq3.out" || echo 'no sped-up time line')"

rc=0
build/bench/bench_soak --port "$port" --pid "$pid" --scale "$scale" --hours "$hours" \
  --log-dir "$home/termlog" --files "$files" ${SOAK_TRACE:+--trace "$SOAK_TRACE"} || rc=$?
if ! kill -0 "$pid" 2>/dev/null; then
  echo "soak: velq3 ended during the run" >&2
  rc=1
fi
if [ "$rc" -ne 0 ]; then
  # The folder goes at exit: keep what a look into the failure needs.
  kept=$(mktemp -d "${TMPDIR:-/tmp}/velq3-soak-XXXXXX")
  cp -r "$home/termlog" "$home/velq3.out" "$kept/" 2>/dev/null || true
  echo "soak: the temperature log and the service's output are kept in $kept; its last lines:" >&2
  grep -v '^[0-9.]* : ' "$home/velq3.out" | tail -n 20 >&2 || true
fi
exit "$rc"
