#!/usr/bin/env bash
# Builds the libFuzzer targets (tree build-fuzz/, clang with ASan and UBSan) and runs each for
# SECONDS (default 30), two at a time, from its committed corpus (fuzz/corpus/<target>) with
# its dictionary (fuzz/dict/<target>.dict). New inputs go to build-fuzz/work/<target>, never
# into the committed corpus. Fails when any target finds a crash, a leak or a time-out; the
# input is then in build-fuzz/work/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found (packages clang, libclang-rt-14-dev): the fuzz targets are not built"
  exit 0
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(status_reply memory_image_reply temperature_reply microstep_reply move_reply
           settings_file registry_file automation_message alpaca_request)
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

work=build-fuzz/work
mkdir -p "$work/artifacts"

# A time-out is wall time: 25 s per input leaves room for a loaded machine (inputs take
# milliseconds) and still catches a hang.
# One target: its scratch folder first (libFuzzer writes new inputs into the first folder),
# then the committed corpus, which it only reads.
run() {
  local t=$1
  local args=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
              -artifact_prefix="$work/artifacts/$t-")
  [ -f "fuzz/dict/$t.dict" ] && args+=(-dict="fuzz/dict/$t.dict")
  mkdir -p "$work/$t"
  local corpus=()
  [ -d "fuzz/corpus/$t" ] && corpus=("fuzz/corpus/$t")
  if "build-fuzz/$t" "${args[@]}" "$work/$t" "${corpus[@]}" >"$work/$t.log" 2>&1; then
    local execs cov
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
    cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -1)
    echo "fuzz: $t ok: $execs runs in ${seconds} s, $cov"
  else
    echo "fuzz: $t FAILED (log $work/$t.log):"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$work/$t.log" | head -20 || tail -5 "$work/$t.log"
    return 1
  fi
}

# Two at a time: the machine and CI have two cores.
failed=0
running=0
for t in "${targets[@]}"; do
  if [ $running -ge 2 ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run "$t" &
  running=$((running + 1))
done
while [ $running -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done

if [ $failed -ne 0 ]; then
  echo "fuzz: a target failed"
  exit 1
fi
echo "fuzz: every target ran ${seconds} s without a finding"
