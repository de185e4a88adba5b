#!/usr/bin/env bash
# A fresh Alpaca client beside many idle kept-alive connections: velq3 --service --simulate with
# focuser 0 connected, CONNECTIONS (default 1000) connections that each read once and stay open,
# then 100 sequential GETs of a new client. Targets: no time-out, p99 <= 1 ms, resident memory
# with the connections within 20 MB of idle.
# Usage: bench/alpaca_idle.sh [CONNECTIONS] (after scripts/build.sh release; needs curl).
set -euo pipefail
cd "$(dirname "$0")/.."
connections=${1:-1000}
command -v curl >/dev/null || { echo "alpaca_idle: curl is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
# Each connection is a descriptor on both ends.
ulimit -n "$(( $(ulimit -Hn) < 65536 ? $(ulimit -Hn) : 65536 ))"

who=alpaca_idle
. scripts/service-on-free-port.sh
connect_focuser0
sleep 1  # start-up is not idle time
build/bench/bench_alpaca_idle --port "$port" --pid "$pid" --connections "$connections" --requests 100
