#!/usr/bin/env bash
# The Windows setup program under Wine, in the test run's prefix (all COM ports mapped, the
# simulator on COM1):
#   setup-e2e.sh SETUP BIN VERSION
# SETUP is velq3-setup-<VERSION>.exe, BIN the folder of the velq3.exe it carries. A silent install
# into Program Files; the classes, type library, Chooser entries, Start menu and Add/Remove entry
# read back; a cscript client reaching the installed server and, through it, the simulator; a
# silent uninstall that leaves none of it and keeps the user's settings; then a second install,
# an install over it that must fail while a client holds the server, and a silent uninstall with
# /REMOVESETTINGS, which takes the settings too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
setup=${1:?usage: setup-e2e.sh SETUP BIN VERSION}
bin=$(cd "${2:?usage: setup-e2e.sh SETUP BIN VERSION}" && pwd)
version=${3:?usage: setup-e2e.sh SETUP BIN VERSION}
dir=${VELQ3_WINE_DIR:-${VELQ3_WINE_DEFAULT_DIR:?set VELQ3_WINE_DIR to the folder of the run}}
dir=$(cd "$dir" && pwd)
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all
unset DISPLAY
run="$here/../wine-run.sh"
work="$dir/setup-e2e"
rm -rf "$work"
mkdir -p "$work"

if [ ! -f "$setup" ]; then
  echo "FAIL: no setup program at $setup (scripts/package-windows.sh builds it)" >&2
  exit 1
fi

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A Windows program under Wine; its output without carriage returns in $work/out, $work/err.
win() {
  local status=0
  "$run" "$@" >"$work/out.raw" 2>"$work/err.raw" </dev/null || status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" | grep -v '^[0-9a-f]*:err:ole:' >"$work/err" || true
  return "$status"
}

reg_value() {  # KEY VALUE|"" VIEW: the value's data
  local key=$1 name=$2 view=$3 out what=(/ve) try
  [ "$name" = "" ] || what=(/v "$name")
  # reg.exe now and then fails to start on a loaded machine: a missing key is asked twice.
  for try in 1 2; do
    out=$(wine reg query "$key" "${what[@]}" /reg:"$view" 2>/dev/null | tr -d '\r') && break
    [ "$try" = 2 ] && return 1
    sleep 0.5
  done
  printf '%s\n' "$out" | sed -n 's/^    [^ ].*    REG_[A-Z_]*    \{0,1\}//p' | head -1
}
key_exists() { wine reg query "$1" /reg:"${2:-64}" >/dev/null 2>&1; }
expect_value() {  # KEY NAME VIEW WANT
  local got
  got=$(reg_value "$1" "$2" "$3") || { fail "no key $1 (view $3)"; return; }
  [ "$got" = "$4" ] || fail "$1 [${2:-default}] (view $3) = '$got', expected '$4'"
}

# The velq3.exe processes of this prefix: "PID COMMAND LINE" lines.
servers() {
  local p c
  for p in /proc/[0-9]*; do
    c=$( (tr '\0' ' ' <"$p/cmdline") 2>/dev/null) || continue
    [[ $c == *velq3.exe* ]] || continue
    grep -qzx "WINEPREFIX=$WINEPREFIX" "$p/environ" 2>/dev/null && echo "${p#/proc/} $c"
  done
  return 0
}
wait_until() {  # SECONDS COMMAND...: true once the command succeeds within the time
  local limit=$(($1 * 10)) i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
no_server() { [ -z "$(servers)" ]; }
running_installed() { [[ $(servers) == *"Program Files\\velq3\\velq3.exe"* ]]; }

CLASSES='HKLM\Software\Classes'
PROFILE='HKLM\Software\ASCOM'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velq3'
SETTINGS='HKCU\Software\ASCOM\Settings\OrnFocuserV3'
LIBID='{181202A3-A1F3-4287-9D85-A166A769E015}'
IID_WHEEL='{66A6F8D6-A1F3-44A6-98A3-72B3C6CDA13E}'
target='C:\Program Files\velq3'
target_unix="$WINEPREFIX/drive_c/Program Files/velq3"
menu_unix="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/velq3"

classes_table() {  # ProgID, CLSID, the Chooser's drivers key and name (blanks as _)
  cat <<'T'
VELQ3.Focuser {8B73F203-A1F3-434E-97E0-EE6D2B7E8D16} Focuser_Drivers VELQ3_Focuser
VELQ3.FilterWheel {C3E62667-A1F3-4064-8B64-45CDED7C718C} FilterWheel_Drivers VELQ3_Filter_Wheel
VELQ3.Rotator {0E8237AF-A456-4575-AC6C-EE91E0F1C5C6} Rotator_Drivers VELQ3_Rotator
VELQ3.Dome {0E8237BF-A456-4575-AC6C-EE91E0F1C5C8} Dome_Drivers VELQ3_Cover_(Dome)
VELQ3.Focuser2 {8B73F205-A1F3-434E-97E0-EE6D2B7E8D16} Focuser_Drivers VELQ3_Focuser_2
T
}

# Fails for every piece of the registration that is there (ABSENT) or missing (PRESENT).
check_registration() {
  local want=$1 progid clsid drivers name view platform
  local exe="$target\\velq3.exe"
  while read -r progid clsid drivers name; do
    for view in 64 32; do
      if [ "$want" = PRESENT ]; then
        expect_value "$CLASSES\\$progid\\CLSID" "" $view "$clsid"
        expect_value "$CLASSES\\CLSID\\$clsid\\LocalServer32" "" $view "\"$exe\""
        expect_value "$CLASSES\\CLSID\\$clsid\\LocalServer32" ServerExecutable $view "$exe"
      else
        ! key_exists "$CLASSES\\$progid" $view || fail "$progid is still there (view $view)"
        ! key_exists "$CLASSES\\CLSID\\$clsid" $view || fail "CLSID $clsid of $progid is still there (view $view)"
      fi
    done
    if [ "$want" = PRESENT ]; then
      expect_value "$PROFILE\\${drivers//_/ }\\$progid" "" 32 "${name//_/ }"
    else
      ! key_exists "$PROFILE\\${drivers//_/ }\\$progid" 32 || fail "the Chooser entry of $progid is still there"
    fi
  done < <(classes_table)
  for view in 64 32; do
    if [ "$want" = PRESENT ]; then
      for platform in win64 win32; do
        expect_value "$CLASSES\\TypeLib\\$LIBID\\1.0\\409\\$platform" "" $view "$exe"
      done
    else
      ! key_exists "$CLASSES\\TypeLib\\$LIBID" $view || fail "the type library is still registered (view $view)"
      ! key_exists "$CLASSES\\Interface\\$IID_WHEEL" $view || fail "the interface key is still there (view $view)"
    fi
  done
}

install() {  # WHAT: a silent install, its files and Add/Remove entry checked
  local status=0
  win "$setup" /S || status=$?
  [ "$status" -eq 0 ] || fail "$1: the setup program ended with $status: $(cat "$work/err")"
  local f
  for f in velq3.exe velq3-ctl.exe uninstall.exe; do
    [ -f "$target_unix/$f" ] || fail "$1: no $target\\$f"
  done
  cmp -s "$bin/velq3.exe" "$target_unix/velq3.exe" || fail "$1: the installed velq3.exe is not the built one"
  [ -f "$menu_unix/velq3.lnk" ] || fail "$1: no Start menu entry"
  expect_value "$UNINSTALL" DisplayVersion 64 "$version"
  expect_value "$UNINSTALL" UninstallString 64 "\"$target\\uninstall.exe\""
  expect_value "$UNINSTALL" QuietUninstallString 64 "\"$target\\uninstall.exe\" /S"
}

# The uninstaller runs on from a copy in the temporary folder after uninstall.exe returns: its
# work is done when the folder, the Start menu entry and the Add/Remove entry are gone.
uninstall_done() { [ ! -e "$target_unix" ] && [ ! -e "$menu_unix" ] && ! key_exists "$UNINSTALL"; }
uninstall() {  # WHAT [SWITCH...]
  local what=$1 status=0
  shift
  win "$target\\uninstall.exe" /S "$@" || status=$?
  [ "$status" -eq 0 ] || fail "$what: the uninstaller ended with $status: $(cat "$work/err")"
  wait_until 30 uninstall_done || fail "$what: after 30 s there are still: $(find "$target_unix" "$menu_unix" 2>/dev/null | tr '\n' ' ')$(key_exists "$UNINSTALL" && echo "$UNINSTALL")"
}

# The user's settings, as the program keeps them: the registry key (the simulator's port; the
# Alpaca face on a free port, so that the server takes none of the machine's fixed ports) and a
# file in each of the program's user folders.
appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
localappdata=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
user_files=("$(wine winepath -u "$appdata\\velq3" 2>/dev/null)/kept.fws2"
            "$(wine winepath -u "$localappdata\\velq3" 2>/dev/null)/kept.log")
write_settings() {
  local value f
  for value in "ComPort 1" "AlpacaPort 0" "DiscoveryPort 0"; do
    wine reg add "$SETTINGS" /v "${value% *}" /t REG_DWORD /d "${value#* }" /f >/dev/null 2>&1 ||
      fail "setting ${value% *} not written"
  done
  for f in "${user_files[@]}"; do
    mkdir -p "$(dirname "$f")" && echo kept >"$f"
  done
}

wait_until 15 no_server || fail "a server of an earlier test still runs: $(servers)"
# A server that an earlier test ended by a signal stays registered with Wine's rpcss, which then
# fails the next activation of its classes ("Automation server can't create object") instead of
# starting the program: the test begins in a fresh Wine session, as after a restart of Windows.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
"$here/../wine-prefix.sh" ensure
check_registration ABSENT
if [ "$failures" -ne 0 ]; then
  echo "the prefix holds a registration before the install: $failures failed" >&2
  exit 1
fi
write_settings

# First install: everything registered where the setup program put the server.
install "install"
check_registration PRESENT

# A script client starts the installed server and reaches the simulator through it.
win cscript //nologo "$(wine winepath -w "$here/installed.js" 2>/dev/null | tr -d '\r')" ||
  fail "installed.js: cscript ended with $?"
grep -Eq '^[1-9][0-9]* passed, 0 failed$' "$work/out" || fail "installed.js: $(cat "$work/out") $(cat "$work/err")"
running=$(servers)
[[ $running == *"Program Files\\velq3\\velq3.exe"* ]] || fail "the client's server is not the installed one: ${running:-none}"
wait_until 15 no_server || fail "the installed server did not end after its client: $(servers)"

# Silent uninstall: no registration, no files, no entries; the settings stay.
uninstall "uninstall"
check_registration ABSENT
key_exists "$CLASSES\\CLSID" 64 || fail "the CLSID key itself went"
[ "$(reg_value "$SETTINGS" ComPort 64)" = "0x1" ] || fail "uninstall: the settings went without being asked"
for f in "${user_files[@]}"; do
  [ -f "$f" ] || fail "uninstall: the user's $f went without being asked"
done

# Second install. Installing again while a client holds the server cannot replace velq3.exe:
# the setup program must fail, not skip the file and report success.
install "second install"
# The installed velq3-ctl.exe holds a rotator object while its standard input stays open.
rm -f "$work/holder.in"
mkfifo "$work/holder.in"
"$run" "$target\\velq3-ctl.exe" VELQ3.Rotator - <"$work/holder.in" >"$work/holder.out" 2>&1 &
holder=$!
exec 3>"$work/holder.in"
echo DriverVersion >&3
if wait_until 15 running_installed; then
  status=0
  win "$setup" /S 3>&- || status=$?
  [ "$status" -ne 0 ] || fail "an install over the running server reported success"
  cmp -s "$bin/velq3.exe" "$target_unix/velq3.exe" || fail "the failed install changed velq3.exe"
else
  fail "the holding client started no server: $(tr -d '\r' <"$work/holder.out")"
fi
echo DriverVersion >&3
exec 3>&-
wait "$holder" || fail "the holding client ended with $?"
[ "$(tr -d '\r' <"$work/holder.out" | grep -c '^DriverVersion = 3\.4$')" -eq 2 ] ||
  fail "the holding client lost its server: $(tr -d '\r' <"$work/holder.out")"
wait_until 15 no_server || fail "the held server did not end after its client: $(servers)"

# Uninstalled with /REMOVESETTINGS: the settings go too.
uninstall "uninstall /REMOVESETTINGS" /REMOVESETTINGS
check_registration ABSENT
! key_exists "$SETTINGS" || fail "/REMOVESETTINGS left the settings key"
for f in "${user_files[@]}"; do
  [ ! -e "$(dirname "$f")" ] || fail "/REMOVESETTINGS left $(dirname "$f")"
done

if [ "$failures" -ne 0 ]; then
  echo "setup: $failures failed" >&2
  exit 1
fi
echo "setup: passed"
