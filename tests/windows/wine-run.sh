#!/usr/bin/env bash
# Runs a Windows program under Wine in the test run's prefix: CMake's emulator for the cross
# build. The prefix is the one tests/windows/wine-prefix.sh made and guarded (COM ports mapped);
# without it nothing runs, so no test can reach a host serial port through Wine's defaults.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the Wine folder of the test run}}
export WINEPREFIX="$dir/prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY
# The run's own X display (wine-display.sh); never the desktop of whoever runs the tests.
if [ -f "$dir/display" ]; then DISPLAY=$(cat "$dir/display"); export DISPLAY; fi
if [ ! -f "$dir/ports-ok" ]; then
  echo "wine-run: $WINEPREFIX has not been prepared and checked by wine-prefix.sh" >&2
  exit 2
fi
# A wineserver that ended is started again the guarded way (a restart re-reads the port map and
# maps host serial devices anew); the ports are checked before every program.
"$here/wine-prefix.sh" ensure
"$here/wine-ports.sh" check "$dir"
# The run's folder as Windows programs name it (drive Z: is the root), for tests that read the
# simulator's log.
export VELQ3_WINE_DIR_FOR_TESTS="Z:${dir//\//\\}"
# A test program whose Wine session ended under it exits with 0 and without its summary: the
# summary of a GoogleTest program is required.
case " $* " in
*" --gtest_color=no "*)
  out=$(mktemp)
  set +e
  wine "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -eq 0 ] && ! grep -q '^\[  PASSED  \]' "$out"; then
    echo "wine-run: $1 ended without its test summary (did its Wine session end?)" >&2
    status=1
  fi
  rm -f "$out"
  exit "$status"
  ;;
esac
exec wine "$@"
