#!/usr/bin/env bash
# Throughput and latency of the Alpaca server: wrk against GET /api/v1/focuser/0/position on
# loopback, 1 and 10 connections for 10 s each, served by velq3 --service --simulate with
# focuser 0 connected first. Targets: at 1 connection p50 <= 50 us and p99 <= 0.5 ms; at 10
# connections >= 100 000 requests/s with p99 <= 1 ms.
# Usage: bench/alpaca_wrk.sh [SECONDS] (after scripts/build.sh release; needs wrk and curl).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "alpaca_wrk: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
done

who=alpaca_wrk
. scripts/service-on-free-port.sh
connect_focuser0
echo "velq3 on port $port; GET $url/position answers: $(curl -s "$url/position?ClientID=1&ClientTransactionID=2")"

# wrk prints the 50% latency as e.g. "50%   62.00us" and "Requests/sec:  12345.67".
run() {
  local connections=$1 threads=$2 out
  out=$(wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$url/position?ClientID=1&ClientTransactionID=3")
  echo "$out" | sed -n '/Latency Distribution/,/requests in/p;/Requests\/sec/p;/Non-2xx/p;/Socket errors/p'
  rps=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  p50=$(echo "$out" | awk '$1 == "50%" {print $2}')
  p99=$(echo "$out" | awk '$1 == "99%" {print $2}')
}
# Latency text ("62.00us", "1.20ms", "2.00s") in microseconds.
to_us() {
  awk -v v="$1" 'BEGIN { n = v + 0; if (v ~ /us$/) print n; else if (v ~ /ms$/) print n * 1000; else if (v ~ /s$/) print n * 1000000; else print n }'
}

echo "--- 1 connection ---"
run 1 1
rps1=$rps; p50_1=$p50; p99_1=$p99
echo "--- 10 connections ---"
run 10 2
rps10=$rps; p50_10=$p50; p99_10=$p99

p50us=$(to_us "$p50_1"); p99us=$(to_us "$p99_1"); p99us10=$(to_us "$p99_10")
echo
awk -v r1="$rps1" -v p1="$p50_1" -v q1="$p99_1" -v u1="$p50us" -v v1="$p99us" -v r10="$rps10" -v p10="$p50_10" -v q10="$p99_10" -v v10="$p99us10" 'BEGIN {
  printf "1 connection:   %.0f requests/s, p50 %s, p99 %s (target p50 <= 50 us, p99 <= 0.5 ms: %s)\n", r1, p1, q1, (u1 <= 50 && v1 <= 500 ? "met" : "MISSED");
  printf "10 connections: %.0f requests/s, p50 %s, p99 %s (target >= 100000 requests/s, p99 <= 1 ms: %s)\n", r10, p10, q10, (r10 >= 100000 && v10 <= 1000 ? "met" : "MISSED") }'
