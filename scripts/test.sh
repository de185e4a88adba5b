#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, then a build under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for kind in release asan; do
  echo "== $kind build"
  scripts/build.sh "$kind"
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "== $kind tests"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j 2
done
