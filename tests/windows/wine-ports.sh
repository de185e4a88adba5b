#!/usr/bin/env bash
# The COM port map of a test run's Wine prefix, so that no Windows test program ever opens a
# host serial port (Wine maps COM1.. to /dev/ttyS0.. by itself unless told otherwise).
#   wine-ports.sh map DIR    writes HKLM\Software\Wine\Ports: COM1 -> DIR/com1 (a link that a
#                            test points at a simulator's pseudo-terminal), COM2..COM16 -> paths
#                            under DIR/absent that never exist. Wine reads the key at its start.
#   wine-ports.sh seal DIR   Wine gives each host serial device it finds a COM number of its own
#                            beyond the mapped ones (COM17 and up): those links are pointed at
#                            paths that do not exist, so no COM name reaches the device.
#   wine-ports.sh check DIR  fails unless COM1..COM16 of the prefix lead exactly there and no
#                            COM port of the prefix leads to a device other than a pseudo-terminal.
set -euo pipefail
action=${1:?usage: wine-ports.sh map|seal|check DIR}
dir=$(cd "${2:?usage: wine-ports.sh map|seal|check DIR}" && pwd)
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all
unset DISPLAY

expected() {  # the host path COM$1 must lead to
  if [ "$1" -eq 1 ]; then echo "$dir/com1"; else echo "$dir/absent/com$1"; fi
}

case "$action" in
map)
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 16); do printf '"COM%d"="%s"\n' "$n" "$(expected "$n")"; done
  } >"$dir/ports.reg"
  wine regedit /S "$dir/ports.reg" >>"$dir/wine.log" 2>&1
  ;;
seal)
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    name=$(basename "$link")
    n=${name#com}
    if [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 16 ]; then
      ln -sfn "$dir/absent/$name" "$link"
    fi
  done
  ;;
check)
  bad=0
  for n in $(seq 1 16); do
    link="$WINEPREFIX/dosdevices/com$n"
    target=$(readlink "$link" 2>/dev/null || true)
    if [ "$target" != "$(expected "$n")" ]; then
      echo "wine-ports: COM$n of $WINEPREFIX leads to '${target:-nothing}', not $(expected "$n")" >&2
      bad=1
    fi
  done
  # Ports beyond the sixteen mapped ones (sealed, unless Wine restarted) must not reach a device.
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    real=$(readlink -f "$link" 2>/dev/null || true)
    if [ -n "$real" ] && [ -c "$real" ] && [[ "$real" != /dev/pts/* ]]; then
      echo "wine-ports: $(basename "$link") of $WINEPREFIX leads to the device $real" >&2
      bad=1
    fi
  done
  if [ "$bad" -ne 0 ]; then
    echo "wine-ports: stopping: a COM port could reach a host serial device" >&2
    exit 3
  fi
  ;;
*) echo "usage: wine-ports.sh map|seal|check DIR" >&2; exit 2 ;;
esac
