#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine, out of process through real COM:
#   com-e2e.sh GROUP BIN SIM
# BIN holds velq3.exe and velq3-ctl.exe; SIM is the Linux velq3-sim. The prefix is the test
# run's (tests/windows/wine-prefix.sh, all COM ports mapped); COM1 is the simulator of
# tests/windows/com1-sim.sh. Groups (ctest runs them in this order):
#   register     /regserver in the fresh prefix; every key read back with `wine reg query`
#   drivers      wheel and focuser driven by velq3-ctl.exe; Names inspected as SAFEARRAY of BSTR
#   errors       failures with their error information
#   modes        the simulator as rotator, then as cover, driven through Rotator and Dome
#   scripts      VBScript and JScript clients under cscript
#   wire         the simulator receives the same command words for the same calls as from Linux
#   shutdown     the server ends 5 s after its last client, and stays while a client comes back
#   operator     started by hand: runs the main window, serves clients beside it, ends when the
#                window is closed
#   modal        a client's SetupDialog runs the main window modally in a COM-started server:
#                Alpaca clients are served meanwhile (connection, move, status)
#   unregister   /unregserver leaves none of the keys
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
group=${1:?usage: com-e2e.sh GROUP BIN SIM}
bin=$(cd "${2:?usage: com-e2e.sh GROUP BIN SIM}" && pwd)
sim=${3:?usage: com-e2e.sh GROUP BIN SIM}
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the folder of the run}}
dir=$(cd "$dir" && pwd)
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all
unset DISPLAY
run="$here/../wine-run.sh"
work="$dir/com-e2e"
mkdir -p "$work"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$group: $failures failed" >&2
    exit 1
  fi
  echo "$group: passed"
}

# A Windows program under Wine; its output without carriage returns in $work/out, $work/err.
win() {
  local status=0
  "$run" "$@" >"$work/out.raw" 2>"$work/err.raw" </dev/null || status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" | grep -v '^[0-9a-f]*:err:ole:' >"$work/err" || true
  return "$status"
}
ctl() { win "$bin/velq3-ctl.exe" "$@"; }
# velq3-ctl.exe reading its OPs from standard input: "pause S" lines wait S seconds between them.
ctl_script() {
  local progid=$1 status=0
  shift
  printf '%s\n' "$@" | while IFS= read -r line; do
    if [[ $line == pause* ]]; then sleep "${line#pause }"; else printf '%s\n' "$line"; fi
  done | "$run" "$bin/velq3-ctl.exe" "$progid" - >"$work/out.raw" 2>"$work/err.raw" || status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
  return "$status"
}

# Requires that the last program printed exactly these lines (in order).
expect_lines() {
  local want
  want=$(printf '%s\n' "$@")
  if [ "$(cat "$work/out")" != "$want" ]; then
    fail "$(printf 'expected:\n%s\ngot:\n%s\nstandard error:\n%s' "$want" "$(cat "$work/out")" "$(cat "$work/err")")"
  fi
}

# Registry values through Wine's reg.exe: query KEY [VALUE] [VIEW] prints the value's data.
reg_value() {
  local key=$1 name=$2 view=${3:-64} out what=(/ve) try
  [ "$name" = "" ] || what=(/v "$name")
  # reg.exe now and then fails to start on a loaded machine: a missing key is asked twice.
  for try in 1 2; do
    out=$(wine reg query "$key" "${what[@]}" /reg:"$view" 2>/dev/null | tr -d '\r') && break
    [ "$try" = 2 ] && return 1
  done
  printf '%s\n' "$out" | sed -n 's/^    [^ ].*    REG_[A-Z_]*    \{0,1\}//p' | head -1
}
key_exists() { wine reg query "$1" /reg:"${2:-64}" >/dev/null 2>&1; }
expect_value() {  # KEY NAME VIEW WANT
  local got
  got=$(reg_value "$1" "$2" "$3") || { fail "no key $1 (view $3)"; return; }
  [ "$got" = "$4" ] || fail "$1 [${2:-default}] (view $3) = '$got', expected '$4'"
}

# The velq3.exe processes of this prefix (Linux process ids).
server_pids() {
  local p c
  for p in /proc/[0-9]*; do
    c=$( (tr '\0' ' ' <"$p/cmdline") 2>/dev/null) || continue
    [[ $c == *velq3.exe* ]] || continue
    grep -qzx "WINEPREFIX=$WINEPREFIX" "$p/environ" 2>/dev/null && echo "${p#/proc/}"
  done
  return 0
}
# Waits until no server of this prefix runs; prints the seconds it took; fails after $1 s.
wait_server_gone() {
  local limit=$1 start now
  start=$(date +%s%N)
  while [ -n "$(server_pids)" ]; do
    now=$(date +%s%N)
    if [ $(((now - start) / 1000000)) -gt $((limit * 1000)) ]; then
      echo "-1"
      return
    fi
    sleep 0.1
  done
  now=$(date +%s%N)
  awk -v ns=$((now - start)) 'BEGIN { printf "%.1f\n", ns / 1e9 }'
}

# The simulator on COM1 with other options for a while (modes), and back.
sim_restart() {
  "$here/../com1-sim.sh" stop
  rm -f "$dir/com1"
  setsid "$sim" --link "$dir/com1" --verbose "$@" </dev/null >"$work/sim.out" 2>>"$dir/sim.log" &
  echo $! >"$dir/sim.pid"
  for _ in $(seq 100); do
    [ -L "$dir/com1" ] && return 0
    sleep 0.05
  done
  fail "the simulator did not start"
}
sim_standard() { "$here/../com1-sim.sh" start "$sim"; }

# The id of the first visible window whose name contains NAME on the run's display, waiting up to
# 30 s; nothing when none came.
wait_window() {  # NAME
  local found="" _
  for _ in $(seq 300); do
    found=$(DISPLAY=$(cat "$dir/display") xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
    [ -n "$found" ] && break
    sleep 0.1
  done
  echo "$found"
}

CLSID_WHEEL='{C3E62667-A1F3-4064-8B64-45CDED7C718C}'
LIBID='{181202A3-A1F3-4287-9D85-A166A769E015}'
IID_WHEEL='{66A6F8D6-A1F3-44A6-98A3-72B3C6CDA13E}'
CLASSES='HKLM\Software\Classes'
PROFILE='HKLM\Software\ASCOM'
settings='HKCU\Software\ASCOM\Settings\OrnFocuserV3'

# Every class with its CLSID and the Chooser's drivers key and name.
classes_table() {
  cat <<'T'
VELQ3.Focuser {8B73F203-A1F3-434E-97E0-EE6D2B7E8D16} Focuser_Drivers VELQ3_Focuser
VELQ3.FilterWheel {C3E62667-A1F3-4064-8B64-45CDED7C718C} FilterWheel_Drivers VELQ3_Filter_Wheel
VELQ3.Rotator {0E8237AF-A456-4575-AC6C-EE91E0F1C5C6} Rotator_Drivers VELQ3_Rotator
VELQ3.Dome {0E8237BF-A456-4575-AC6C-EE91E0F1C5C8} Dome_Drivers VELQ3_Cover_(Dome)
VELQ3.Focuser2 {8B73F205-A1F3-434E-97E0-EE6D2B7E8D16} Focuser_Drivers VELQ3_Focuser_2
T
}

case "$group" in
register)
  exe=$(wine winepath -w "$bin/velq3.exe" 2>/dev/null | tr -d '\r')
  # Per user: the user's classes and type library, and nothing of it left after the removal.
  win "$bin/velq3.exe" /RegServerPerUser || fail "/RegServerPerUser ended with $?"
  expect_value "HKCU\\Software\\Classes\\CLSID\\$CLSID_WHEEL\\LocalServer32" "" 64 "\"$exe\""
  expect_value "HKCU\\Software\\Classes\\VELQ3.FilterWheel\\CLSID" "" 64 "$CLSID_WHEEL"
  expect_value "HKCU\\Software\\Classes\\TypeLib\\$LIBID\\1.0\\409\\win32" "" 64 "$exe"
  key_exists "$CLASSES\\CLSID\\$CLSID_WHEEL" 64 && fail "the per-user registration wrote the machine's classes"
  win "$bin/velq3.exe" /UnregServerPerUser || fail "/UnregServerPerUser ended with $?"
  key_exists "HKCU\\Software\\Classes\\CLSID\\$CLSID_WHEEL" 64 && fail "the per-user class is still there"
  key_exists "HKCU\\Software\\Classes\\TypeLib\\$LIBID" 64 && fail "the per-user type library is still there"
  # Machine-wide, as administrator (Wine's user is one): both views, both platforms, the Chooser.
  win "$bin/velq3.exe" /regserver || fail "/regserver ended with $?"
  while read -r progid clsid drivers name; do
    for view in 64 32; do
      expect_value "$CLASSES\\$progid\\CLSID" "" $view "$clsid"
      expect_value "$CLASSES\\CLSID\\$clsid\\LocalServer32" "" $view "\"$exe\""
      expect_value "$CLASSES\\CLSID\\$clsid\\LocalServer32" ServerExecutable $view "$exe"
      expect_value "$CLASSES\\CLSID\\$clsid\\ProgID" "" $view "$progid"
      expect_value "$CLASSES\\CLSID\\$clsid\\TypeLib" "" $view "$LIBID"
      expect_value "$CLASSES\\CLSID\\$clsid\\Version" "" $view "1.0"
      key_exists "$CLASSES\\CLSID\\$clsid\\Programmable" $view || fail "no Programmable key for $progid (view $view)"
    done
    expect_value "$PROFILE\\${drivers//_/ }\\$progid" "" 32 "${name//_/ }"
  done < <(classes_table)
  for view in 64 32; do
    for platform in win64 win32; do
      expect_value "$CLASSES\\TypeLib\\$LIBID\\1.0\\409\\$platform" "" $view "$exe"
    done
    expect_value "$CLASSES\\Interface\\$IID_WHEEL\\ProxyStubClsid32" "" $view "{00020424-0000-0000-C000-000000000046}"
  done
  # The device's settings for the tests: the simulator's port; the Alpaca face of every server
  # on a free port (0), its discovery too, so that no test takes the machine's fixed ports.
  for value in "ComPort 1" "AlpacaPort 0" "DiscoveryPort 0"; do
    wine reg add "$settings" /v "${value% *}" /t REG_DWORD /d "${value#* }" /f >/dev/null 2>&1 ||
      fail "setting ${value% *} not written"
  done
  finish
  ;;

drivers)
  ctl --types VELQ3.FilterWheel Connected=true Position=2 Position Names FocusOffsets Connected=false ||
    fail "velq3-ctl.exe ended with $?"
  expect_lines "Connected = true {VT_BOOL}" \
    "Position = 2 {VT_I4}" \
    "Position = 2 {VT_I2}" \
    'Names = ["L", "R", "G", "B", "Ha", "OIII", "SII"] {VT_ARRAY|VT_BSTR dims=1 lbound=0 ubound=6 elements=VT_BSTR}' \
    "FocusOffsets = [0, 35, 20, 45, 60, 55, 65] {VT_ARRAY|VT_I4 dims=1 lbound=0 ubound=6 elements=VT_I4}" \
    "Connected = false {VT_BOOL}"
  ctl VELQ3.Focuser Link=true "Move(1500)" Position IsMoving Absolute TempCompAvailable Link=false ||
    fail "velq3-ctl.exe ended with $?"
  expect_lines "Link = true" "Move = ok" "Position = 1500" "IsMoving = false" "Absolute = true" \
    "TempCompAvailable = true" "Link = false"
  ctl VELQ3.Focuser Link=true Temperature Link=false || fail "Temperature: velq3-ctl.exe ended with $?"
  grep -Eq '^Temperature = -?[0-9]+(\.[0-9]+)?$' "$work/out" || fail "Temperature: $(cat "$work/out")"
  finish
  ;;

errors)
  # Each failure with its code and its error information.
  ctl VELQ3.Focuser Halt Bogus "Position=3" && fail "the failures were reported as success"
  expect_lines "Halt: error 0x80020009 Not Supported" \
    "Bogus: error 0x80020006 Unknown name." \
    "Position: error 0x80020003 Member not found."
  # A client's setup dialog is the main window, run until the operator closes it (Esc).
  "$run" "$bin/velq3-ctl.exe" VELQ3.Focuser SetupDialog >"$work/setup.out" 2>&1 </dev/null &
  setup=$!
  xdisplay=$(cat "$dir/display")
  window=$(wait_window "Filter Wheel")
  if [ -n "$window" ]; then
    kill -0 "$setup" 2>/dev/null || fail "SetupDialog returned while its window was open"
    DISPLAY=$xdisplay xdotool windowfocus --sync "$window" key Escape 2>/dev/null || fail "Esc not sent to the window"
  else
    fail "SetupDialog showed no window"
    kill "$setup" 2>/dev/null || true
  fi
  wait "$setup" || fail "SetupDialog: velq3-ctl.exe ended with $?"
  grep -q "^SetupDialog = ok" <(tr -d '\r' <"$work/setup.out") || fail "SetupDialog: $(tr -d '\r' <"$work/setup.out")"
  ctl VELQ3.FilterWheel Connected=true Position=2 Position=42 Position Connected=false && fail "slot 42 was accepted"
  # Without error information the text is the system's own message for the code.
  sed -i 's/^\(Position: error 0x80070057\) .*/\1/' "$work/out"
  expect_lines "Connected = true" "Position = 2" "Position: error 0x80070057" "Position = 2" "Connected = false"
  # A wheel controller is no rotator: the connection is refused.
  ctl VELQ3.Rotator Connected=true Connected && fail "a wheel controller was accepted as rotator"
  sed -i 's/^\(Connected: error 0x80004005\) .*/\1/' "$work/out"
  expect_lines "Connected: error 0x80004005" "Connected = false"
  win "$bin/velq3-ctl.exe" VELQ3.NoSuchThing Position && fail "an unknown ProgID was created"
  grep -q "cannot create VELQ3.NoSuchThing: error 0x800401F3" "$work/err" || fail "unknown ProgID: $(cat "$work/err")"
  finish
  ;;

modes)
  wait_server_gone 15 >/dev/null  # the port is free again
  sim_restart --mode -1 --eeprom "$work/rotator.bin"
  ctl VELQ3.Rotator Connected=true "MoveAbsolute(30)" Position IsMoving "Move(-10)" Position Connected=false ||
    fail "rotator: velq3-ctl.exe ended with $?"
  # Angles are whole motor steps: a relative move lands within a degree of its target.
  sed -i 's/^Position = 2[01]\(\.[0-9]*\)\{0,1\}$/Position = 20 (within a degree)/' "$work/out"
  expect_lines "Connected = true" "MoveAbsolute = ok" "Position = 30" "IsMoving = false" "Move = ok" \
    "Position = 20 (within a degree)" "Connected = false"
  wait_server_gone 15 >/dev/null
  sim_restart --mode -2 --eeprom "$work/cover.bin"
  : >"$dir/sim.log"
  ctl VELQ3.Dome Connected=true ShutterStatus OpenShutter CloseShutter CanSetShutter Connected=false ||
    fail "cover: velq3-ctl.exe ended with $?"
  # The shutter's state is the shared device rule's (the Linux program reads the same here).
  sed -i 's/^ShutterStatus = [0-4]$/ShutterStatus = (0..4)/' "$work/out"
  expect_lines "Connected = true" "ShutterStatus = (0..4)" "OpenShutter = ok" "CloseShutter = ok" \
    "CanSetShutter = true" "Connected = false"
  # Both travels reached the controller as motor moves.
  [ "$(grep -ac '<- FWgoFocus' "$dir/sim.log")" -ge 2 ] || fail "cover travels: $(grep -a '<-' "$dir/sim.log" | tail -5)"
  wait_server_gone 15 >/dev/null
  sim_standard
  finish
  ;;

scripts)
  for script in focuser.vbs wheel.js; do
    win cscript //nologo "$(wine winepath -w "$here/$script" 2>/dev/null | tr -d '\r')" ||
      fail "$script: cscript ended with $?"
    # Wine's cscript hides script errors: only the closing line tells that the script ran.
    grep -q '^[0-9]* passed, 0 failed$' "$work/out" ||
      fail "$script: $(cat "$work/out") $(cat "$work/err")"
    grep -q '^FAIL' "$work/out" && fail "$script: $(grep '^FAIL' "$work/out")"
  done
  finish
  ;;

wire)
  # The command words (with their arguments) the simulator received for a connection, a wheel
  # move and a focuser move, from the Windows program and from the Linux program. The status
  # polls ("FWAll" once a second) fall at other moments in the two runs and are left out.
  words() { grep -ao '<- .*' "$1" | sed 's/ \[fault.*//' ; }
  : >"$dir/sim.log"
  ctl VELQ3.FilterWheel Connected=true Position=3 Connected=false || fail "velq3-ctl.exe ended with $?"
  ctl VELQ3.Focuser Link=true "Move(1200)" Link=false || fail "velq3-ctl.exe ended with $?"
  words "$dir/sim.log" | grep -v 'FWAll' >"$work/wire-windows"
  linux_bin=$(dirname "$sim")
  home="$work/linux-home"
  rm -rf "$home"
  mkdir -p "$home"
  setsid "$sim" --link "$work/linux-tty" --verbose </dev/null >"$work/linux-sim.out" 2>"$work/linux-sim.log" &
  linux_sim=$!
  for _ in $(seq 100); do [ -L "$work/linux-tty" ] && break; sleep 0.05; done
  # The Linux program's settings: the simulator's port, and no Alpaca face (no fixed port taken).
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\ASCOM\\Settings\\OrnFocuserV3]\n"ComPort"=dword:00000001\n"SerialDevice1"="%s"\n"AlpacaEnabled"=dword:00000000\n' \
    "$work/linux-tty" >"$work/user.reg"
  mkdir -p "$home/config"
  VELQ3_HOME="$home" "$linux_bin/velq3" /regserver >/dev/null 2>&1 || true
  cfg=$(find "$home" -name classes.reg -printf '%h\n' | head -1)
  cp "$work/user.reg" "${cfg:-$home/config}/user.reg"
  VELQ3_HOME="$home" "$linux_bin/velq3-ctl" VELQ3.FilterWheel Connected=true Position=3 Connected=false >/dev/null ||
    fail "Linux velq3-ctl ended with $?"
  VELQ3_HOME="$home" "$linux_bin/velq3-ctl" VELQ3.Focuser Link=true "Move(1200)" Link=false >/dev/null ||
    fail "Linux velq3-ctl ended with $?"
  kill "$linux_sim" 2>/dev/null || true
  words "$work/linux-sim.log" | grep -v 'FWAll' >"$work/wire-linux"
  grep -q 'FWGOTO 33' "$work/wire-windows" && grep -q 'FWgoFocus' "$work/wire-windows" ||
    fail "the simulator logged no moves from the Windows program: $(cat "$work/wire-windows")"
  diff -u "$work/wire-linux" "$work/wire-windows" >&2 || fail "the Windows program sent other command words"
  finish
  ;;

shutdown)
  # The release comes after the client started and before it ended: the server must end no
  # sooner than 5 s after the client's start, and not long after its end (the bound leaves room
  # for a loaded machine, where Wine ends processes slowly).
  now_ns() { date +%s%N; }
  check_end() {  # START_NS END_NS TOOK_S WHAT
    awk -v s="$1" -v e="$2" -v took="$3" 'BEGIN { exit !(took >= 0 && (e - s) / 1e9 + took >= 5.0 && took <= 15.0) }' ||
      fail "$4: the server ended $3 s after the client ended (-1: not within 20 s), expected 5 s after the release"
  }
  wait_server_gone 15 >/dev/null
  start=$(now_ns)
  ctl VELQ3.Rotator Name || fail "velq3-ctl.exe ended with $?"
  ended=$(now_ns)
  [ -n "$(server_pids)" ] || fail "no server after the call"
  check_end "$start" "$ended" "$(wait_server_gone 20)" "one client"
  # A client that comes back within the 5 s keeps the same server, which then ends 5 s after
  # that client.
  ctl VELQ3.Rotator Name || fail "velq3-ctl.exe ended with $?"
  first=$(server_pids)
  sleep 1
  start=$(now_ns)
  ctl VELQ3.Rotator DriverVersion || fail "velq3-ctl.exe ended with $?"
  ended=$(now_ns)
  expect_lines "DriverVersion = 3.4"
  [ "$(server_pids)" = "$first" ] || fail "another server answered the second client ($first, $(server_pids))"
  check_end "$start" "$ended" "$(wait_server_gone 20)" "a client that came back"
  finish
  ;;

operator)
  # Started by hand: the main window opens, automation clients and the Alpaca face (reached
  # from the Linux side) are served beside it, also while the operator has a settings dialog
  # open, the idle rule does not end the process, and closing the window (Esc) does.

  # The wheel settings dialog opened from the main window ($window, the device connected) with
  # a click on "Wheel..." (template 218 x 286 dialog units, the button's centre at 181, 68; the
  # frame is 3 pixels wide and the units are square at the dialog font). Meanwhile an Alpaca
  # move ($port) is taken and its end seen through the status poll; Esc closes the dialog.
  settings_dialog_open_while_alpaca_serves() {
    local geometry w h x y dialog="" reply position=""
    geometry=$(DISPLAY=$xdisplay xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p')
    w=${geometry%x*} h=${geometry#*x}
    read -r x y < <(awk -v w="$w" -v h="$h" 'BEGIN { s = (w - 6) / 218; top = h - 3 - 286 * s; printf "%d %d\n", 3 + 181 * s, top + 68 * s }')
    # The button is enabled by the window's poll (once a second) after the connection.
    for _ in $(seq 10); do
      DISPLAY=$xdisplay xdotool mousemove --window "$window" "$x" "$y" click 1 2>/dev/null || true
      sleep 1
      dialog=$(DISPLAY=$xdisplay xdotool search --onlyvisible --name "FilterWheel Settings Dialog" 2>/dev/null | head -1) || true
      [ -n "$dialog" ] && break
    done
    if [ -z "$dialog" ]; then
      fail "the wheel settings dialog did not open (a click at $x,$y in a window of $geometry)"
      return
    fi
    reply=$(curl -sS --max-time 10 -X PUT -d 'Position=3&ClientID=7&ClientTransactionID=5' \
      "http://127.0.0.1:$port/api/v1/filterwheel/0/position" 2>&1)
    [[ $reply == *'"ErrorNumber":0'* ]] || fail "Alpaca move while the settings dialog was open: $reply"
    for _ in $(seq 40); do
      reply=$(curl -sS --max-time 10 "http://127.0.0.1:$port/api/v1/filterwheel/0/position?ClientID=7" 2>&1)
      [[ $reply == *'"Value":3,'* || $reply == *'"Value":3}'* ]] && { position=3; break; }
      sleep 0.5
    done
    [ "$position" = 3 ] || fail "the move's end was not seen while the settings dialog was open: $reply"
    DISPLAY=$xdisplay xdotool windowfocus --sync "$dialog" key Escape 2>/dev/null || fail "Esc not sent to the dialog"
    for _ in $(seq 50); do
      DISPLAY=$xdisplay xdotool search --onlyvisible --name "FilterWheel Settings Dialog" >/dev/null 2>&1 || return 0
      sleep 0.1
    done
    fail "the wheel settings dialog did not close on Esc"
  }
  wait_server_gone 15 >/dev/null
  "$run" "$bin/velq3.exe" --alpaca-port 0 >"$work/operator.out" 2>"$work/operator.err" </dev/null &
  operator=$!
  xdisplay=$(cat "$dir/display")
  window=$(wait_window "Filter Wheel")
  [ -n "$window" ] || fail "no main window: $(tr -d '\r' <"$work/operator.err")"
  mine=$(server_pids)
  [ -n "$mine" ] || fail "the operator's server is not running"
  ctl VELQ3.Rotator DriverVersion || fail "velq3-ctl.exe ended with $?"
  expect_lines "DriverVersion = 3.4"
  [ "$(server_pids)" = "$mine" ] || fail "the client started a server of its own: $(server_pids) beside $mine"
  port=$(tr -d '\r' <"$work/operator.out" | sed -n 's/^velq3: Alpaca on 127\.0\.0\.1:\([0-9]*\)$/\1/p' | head -1)
  if [ -z "$port" ]; then
    fail "no Alpaca line on standard output: $(tr -d '\r' <"$work/operator.out")"
  else
    devices=$(curl -sS --max-time 10 "http://127.0.0.1:$port/management/v1/configureddevices") ||
      fail "the Alpaca face did not answer on port $port"
    [[ $devices == *'"DeviceType":"FilterWheel"'* && $devices == *'"Value":'* ]] ||
      fail "configured devices: $devices"
    names=$(curl -sS --max-time 10 -X PUT -d 'Connected=true&ClientID=7&ClientTransactionID=1' \
      "http://127.0.0.1:$port/api/v1/filterwheel/0/connected" >/dev/null &&
      curl -sS --max-time 10 "http://127.0.0.1:$port/api/v1/filterwheel/0/names?ClientID=7")
    [[ $names == *'"Value":["L","R","G","B","Ha","OIII","SII"]'* ]] || fail "Alpaca wheel names: $names"
    settings_dialog_open_while_alpaca_serves
    curl -sS --max-time 10 -X PUT -d 'Connected=false&ClientID=7&ClientTransactionID=2' \
      "http://127.0.0.1:$port/api/v1/filterwheel/0/connected" >/dev/null || true
  fi
  sleep 6
  [ -n "$(server_pids)" ] || fail "the operator's server ended 5 s after its client"
  if [ -n "$window" ]; then
    DISPLAY=$xdisplay xdotool windowfocus --sync "$window" key Escape 2>/dev/null || fail "Esc not sent to the window"
    [ "$(wait_server_gone 15)" != -1 ] || fail "the operator's server did not end when its window closed"
  fi
  # shellcheck disable=SC2046
  kill "$operator" $(server_pids) 2>/dev/null || true
  wait "$operator" 2>/dev/null || true
  [ "$(wait_server_gone 10)" != -1 ] || fail "the operator's server did not end"
  finish
  ;;

modal)
  # A client's SetupDialog runs the main window modally in the COM-started server (the window's
  # own modal loop, not the server's). Meanwhile an Alpaca client connects (a task of the main
  # loop), moves the wheel and sees the move end through the status poll (a timer of the main
  # loop); then Esc closes the window and the client's call returns.
  wait_server_gone 15 >/dev/null
  xdisplay=$(cat "$dir/display")
  # The COM-started server's Alpaca port, through its settings: one nobody listens on now.
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    (: </dev/tcp/127.0.0.1/"$port") 2>/dev/null || break
  done
  wine reg add "$settings" /v AlpacaPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1 || fail "the Alpaca port was not set"
  "$run" "$bin/velq3-ctl.exe" VELQ3.FilterWheel "SetupDialog()" >"$work/setup.out" 2>"$work/setup.err" </dev/null &
  setup=$!
  window=$(wait_window "Filter Wheel")
  if [ -z "$window" ]; then
    fail "no main window for SetupDialog: $(tr -d '\r' <"$work/setup.err")"
  else
    alpaca() {  # METHOD PATH [DATA]: the reply within 10 s, or nothing
      local method=$1 path=$2 data=${3:-}
      if [ "$method" = PUT ]; then
        curl -sS --max-time 10 -X PUT -d "$data" "http://127.0.0.1:$port/api/v1/filterwheel/0/$path" 2>&1
      else
        curl -sS --max-time 10 "http://127.0.0.1:$port/api/v1/filterwheel/0/$path?ClientID=9" 2>&1
      fi
    }
    reply=$(alpaca PUT connected 'Connected=true&ClientID=9&ClientTransactionID=1')
    [[ $reply == *'"ErrorNumber":0'* ]] || fail "Alpaca connection while the window ran modally: $reply"
    reply=$(alpaca GET connected)
    [[ $reply == *'"Value":true'* ]] || fail "Alpaca connected: $reply"
    reply=$(alpaca PUT position 'Position=4&ClientID=9&ClientTransactionID=2')
    [[ $reply == *'"ErrorNumber":0'* ]] || fail "Alpaca move while the window ran modally: $reply"
    position=""
    for _ in $(seq 40); do
      reply=$(alpaca GET position)
      [[ $reply == *'"Value":4,'* || $reply == *'"Value":4}'* ]] && { position=4; break; }
      sleep 0.5
    done
    [ "$position" = 4 ] || fail "the move's end was not seen while the window ran modally: $reply"
    alpaca PUT connected 'Connected=false&ClientID=9&ClientTransactionID=3' >/dev/null
    DISPLAY=$xdisplay xdotool windowfocus --sync "$window" key Escape 2>/dev/null || fail "Esc not sent to the window"
  fi
  for _ in $(seq 150); do
    kill -0 "$setup" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$setup" 2>/dev/null; then
    fail "SetupDialog did not return when the window closed"
    kill "$setup" 2>/dev/null || true
  fi
  status=0
  wait "$setup" 2>/dev/null || status=$?
  [ "$status" = 0 ] || fail "velq3-ctl.exe SetupDialog ended with $status: $(tr -d '\r' <"$work/setup.err")"
  wine reg delete "$settings" /v AlpacaPort /f >/dev/null 2>&1 || true
  [ "$(wait_server_gone 20)" != -1 ] || fail "the server did not end after its client"
  finish
  ;;

unregister)
  wait_server_gone 15 >/dev/null
  win "$bin/velq3.exe" /unregserver || fail "/unregserver ended with $?"
  while read -r progid clsid drivers _; do
    for view in 64 32; do
      key_exists "$CLASSES\\$progid" $view && fail "$progid is still there (view $view)"
      key_exists "$CLASSES\\CLSID\\$clsid" $view && fail "CLSID $clsid is still there (view $view)"
    done
    key_exists "$PROFILE\\${drivers//_/ }\\$progid" 32 && fail "the Chooser entry of $progid is still there"
  done < <(classes_table)
  for view in 64 32; do
    key_exists "$CLASSES\\TypeLib\\$LIBID" $view && fail "the type library is still registered (view $view)"
    key_exists "$CLASSES\\Interface\\$IID_WHEEL" $view && fail "the interface key is still there (view $view)"
  done
  key_exists "$CLASSES\\CLSID" 64 || fail "the CLSID key itself went"
  finish
  ;;

*) echo "usage: com-e2e.sh register|drivers|errors|modes|scripts|wire|shutdown|operator|modal|unregister BIN SIM" >&2; exit 2 ;;
esac
