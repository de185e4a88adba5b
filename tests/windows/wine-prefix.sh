#!/usr/bin/env bash
# The Wine prefix of one Windows test run, shared by its test programs (ctest fixture):
# DIR is $VELQ3_WINE_DIR, else $VELQ3_WINE_DEFAULT_DIR (the build tree's, set by ctest).
#   wine-prefix.sh setup        makes a fresh prefix in DIR/prefix (wineboot -i), maps all
#                               sixteen COM ports (wine-ports.sh), restarts Wine so that the map
#                               holds, seals the numbers Wine gave host devices, checks the ports and leaves a wineserver with the prefix's
#                               services running, its output in DIR/wineserver.log.
#                               It starts the run's own X display first (wine-display.sh).
#   wine-prefix.sh ensure       starts that wineserver again (services, sealed ports) if it ended
#   wine-prefix.sh cleanup      ends that wineserver (this prefix only) and removes the prefix
#                               (about 700 MB), unless VELQ3_KEEP_WINE_PREFIX=1, and ends the
#                               X display; logs stay.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?usage: wine-prefix.sh setup|ensure|cleanup}
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the Wine folder of the test run}}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY
# The run's own X display (wine-display.sh), so that Wine's desktop process can make windows.
if [ -f "$dir/display" ]; then DISPLAY=$(cat "$dir/display"); export DISPLAY; fi

# Processes that Wine starts in the background (services, rpcss) inherit the output of the
# command that starts them: a persistent wineserver started first with its output in a file, and
# every wine command's output in files, keep them off the pipes of ctest.
start_server() {
  wineserver -p >>"$dir/wineserver.log" 2>&1 </dev/null
}
stop_server() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

server_running() {
  wineserver -k0 >/dev/null 2>&1  # signal 0: only asks whether it is there
}

# Starts the prefix's services: the mount manager writes the COM links from the port map (and
# gives host serial devices numbers of their own, which are sealed at once).
start_services() {
  start_server
  wineboot >>"$dir/wine.log" 2>&1 </dev/null
  "$here/wine-ports.sh" seal "$dir"
  "$here/wine-ports.sh" check "$dir"
}

case "$action" in
setup)
  rm -f "$dir/ports-ok"
  "$here/wine-display.sh" start
  # A fresh prefix now and then comes up with a COM link to a host device (the mount manager
  # ran before the map held); the checks stop there, before anything opens a port, and the
  # prefix is made once more from nothing.
  if ! "$0" fresh; then
    echo "wine-prefix: the new prefix failed its port checks; making it once more" >&2
    "$0" fresh
  fi
  touch "$dir/ports-ok"
  ;;
fresh)
  DISPLAY=$(cat "$dir/display"); export DISPLAY
  if [ -d "$WINEPREFIX" ]; then
    stop_server
    rm -rf "$WINEPREFIX"
  fi
  : >"$dir/wineserver.log"; : >"$dir/wine.log"
  rmdir "$dir/absent" 2>/dev/null || true  # the unused ports lead below a folder that is not there
  mkdir -p "$WINEPREFIX"
  start_server
  wineboot -i >>"$dir/wine.log" 2>&1 </dev/null
  "$here/wine-ports.sh" map "$dir"
  # Wine draws the windows' frames and captions itself (pictures of the windows show them).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >>"$dir/wine.log" 2>&1 </dev/null
  stop_server
  start_services  # a failed check ends this with an error; the next try stops its wineserver
  ;;
ensure)
  [ -f "$dir/ports-ok" ] || { echo "wine-prefix: $WINEPREFIX was not set up" >&2; exit 2; }
  server_running || start_services
  ;;
cleanup)
  rm -f "$dir/ports-ok"
  if [ -d "$WINEPREFIX" ]; then
    stop_server
    [ "${VELQ3_KEEP_WINE_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
  fi
  "$here/wine-display.sh" stop
  ;;
*) echo "usage: wine-prefix.sh setup|ensure|cleanup" >&2; exit 2 ;;
esac
