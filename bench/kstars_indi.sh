#!/usr/bin/env bash
# KStars itself starts indi_velq3 and drives it, as a user's KStars would: headless KStars
# (Xvfb, openbox, a private D-Bus session) runs the driver through its INDI D-Bus interface by
# its entry in the driver list, and the simulator stands at the far end of the serial line.
# Checks that KStars finds one device with the expected interfaces and that a filter change and
# a focuser move made through KStars reach the simulator. Takes about a minute; not part of the
# test suite.
#
#   bench/kstars_indi.sh [BUILD_DIR]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)

# KStars starts indiserver without -u, so its server takes the default local socket (abstract
# "@/tmp/indiserver"). Abstract sockets are shared by the whole network namespace: while any other
# indiserver started without -u runs on the machine, the one KStars starts exits at once ("Local
# server: bind: Address already in use"), `start` still answers true and no device ever comes.
# The run therefore goes on in a network namespace of its own (own loopback, own abstract
# sockets): another server cannot break it, and it cannot break another. The outer part installs
# what the run needs; the inner part (KSTARS_INDI_INNER set) runs KStars.
if [ -z "${KSTARS_INDI_INNER:-}" ]; then
  scripts/setup.sh kstars qdbus-qt5 openbox dbus-x11 >/dev/null
  for f in "$build/indi_velq3" "$build/apps/velq3-sim"; do
    [ -x "$f" ] || { echo "kstars_indi: $f is missing: build it first" >&2; exit 2; }
  done
  # KStars reads its driver list from /usr/share/indi once, when it starts (another drivers
  # folder in its settings is not used for a D-Bus start): the package's entry, or ours for the
  # time of this run, put there before KStars starts.
  installed=/usr/share/indi/indi_velq3.xml
  if [ ! -e "$installed" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "kstars_indi: install the package first ($installed is missing)" >&2; exit 2; }
    cp indi/indi_velq3.xml "$installed"
    trap 'rm -f "$installed"' EXIT
  fi
  ns=()
  if unshare -n true 2>/dev/null; then
    ns=(unshare -n)
  elif unshare -rn true 2>/dev/null; then
    ns=(unshare -rn)
  elif grep -q ' @/tmp/indiserver$' /proc/net/unix; then
    echo "kstars_indi: another indiserver holds the default local socket @/tmp/indiserver, so the" \
      "one KStars starts would exit at once; stop it (or run as root, in a namespace of its own)" >&2
    exit 2
  fi
  rc=0
  KSTARS_INDI_INNER=1 "${ns[@]}" bash "$(pwd)/bench/kstars_indi.sh" "$build" || rc=$?
  exit $rc
fi
# A new namespace's loopback starts down (on the host it is up already).
ip link set lo up 2>/dev/null || true

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
  sleep 1
  [ -n "${KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT

fail=0
check() {  # check WHAT GOT WANT
  if [ "$2" == "$3" ]; then echo "ok   $1: $2"; else echo "FAIL $1: got '$2', want '$3'"; fail=1; fi
}

mkdir -p "$tmp/home" "$tmp/run"
chmod 700 "$tmp/run"
export PATH="$build:$PATH" HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" VELQ3_HOME="$tmp/velq3"

setsid "$build/apps/velq3-sim" --verbose > "$tmp/sim.out" 2> "$tmp/sim.err" &
pids+=($!)
for _ in $(seq 50); do [ -s "$tmp/sim.out" ] && break; sleep 0.1; done
tty=$(head -1 "$tmp/sim.out")
# A second controller in rotator mode, for the interfaces that follow the mode.
setsid "$build/apps/velq3-sim" --mode -1 > "$tmp/sim2.out" 2> /dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$tmp/sim2.out" ] && break; sleep 0.1; done
tty2=$(head -1 "$tmp/sim2.out")

display=:$((90 + RANDOM % 100))
setsid Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp > "$tmp/xvfb.log" 2>&1 &
pids+=($!)
sleep 1
export DISPLAY=$display
setsid openbox > "$tmp/openbox.log" 2>&1 &
pids+=($!)
indi() { qdbus org.kde.kstars /KStars/INDI "org.kde.kstars.INDI.$1" "${@:2}" 2>&1 || true; }

# KStars 3.6.2 connects to the indiserver it starts as soon as the process exists. When that
# first attempt is refused (the server is not listening yet: cold caches, a busy machine), its
# client forgets its own connection even though a retry succeeds: the device shows, but the first
# property KStars sends dereferences a null client and KStars crashes. Even with the server's
# files read once beforehand (cached) KStars loses that race about every other time, so when
# KStars's log shows a refused first connection the run starts a fresh KStars instead of going on
# with a broken one. KStars's INDI log category is on for that.
cat "$(command -v indiserver)" "$build/indi_velq3" > /dev/null
ldd "$(command -v indiserver)" "$build/indi_velq3" | awk '/=> \//{print $3}' | sort -u | xargs cat > /dev/null
export QT_LOGGING_RULES="org.kde.kstars.indi=true${QT_LOGGING_RULES:+;$QT_LOGGING_RULES}"
start_kstars() {  # start_kstars ATTEMPT: KStars, then the driver through it; 1 when KStars lost its client
  local log="$tmp/kstars.$1.log"
  rm -f "$tmp/bus.addr"
  setsid dbus-run-session -- bash -c 'echo "$DBUS_SESSION_BUS_ADDRESS" > "$0/bus.addr"; exec kstars' "$tmp" \
    > "$log" 2>&1 &
  local session=$!
  pids+=($session)
  for _ in $(seq 100); do [ -s "$tmp/bus.addr" ] && break; sleep 0.2; done
  export DBUS_SESSION_BUS_ADDRESS=$(cat "$tmp/bus.addr")
  # The first-run wizard does not go away by itself.
  for _ in $(seq 120); do
    qdbus org.kde.kstars /KStars/INDI org.kde.kstars.INDI.getDevices >/dev/null 2>&1 && break
    xdotool key Escape 2>/dev/null || true
    sleep 0.5
  done
  qdbus org.kde.kstars /KStars/INDI org.kde.kstars.INDI.getDevices >/dev/null || { echo "FAIL KStars did not answer on D-Bus"; exit 1; }

  port=$((17000 + RANDOM % 1000))
  echo "start: $(indi start "$port" indi_velq3 2>&1)"
  for _ in $(seq 60); do
    [ -n "$(indi getDevices)" ] && break
    grep -q "INDI server connection refused" "$log" && break
    sleep 0.5
  done
  if grep -q "Local server: bind: Address already in use" "$log"; then
    echo "FAIL KStars's indiserver exited: another indiserver holds its default local socket"
    exit 1
  fi
  if grep -q "INDI server connection refused" "$log"; then
    echo "KStars's first connection to its indiserver was refused (attempt $1): starting a fresh KStars"
    kill -- "-$session" 2>/dev/null || true
    wait "$session" 2>/dev/null || true
    return 1
  fi
}
for attempt in $(seq 10); do
  start_kstars "$attempt" && break
  [ "$attempt" -lt 10 ] || { echo "FAIL KStars's connection to its indiserver was refused $attempt times"; exit 1; }
done
devices=$(indi getDevices)
echo "devices: $devices"
check "one device" "$(wc -l <<<"$devices" | tr -d ' ')" 1
dev=$(head -1 <<<"$devices")
check "device name (the entry's label)" "$dev" "VELQ3"

for _ in $(seq 40); do indi getProperties "$dev" | grep -q DEVICE_PORT && break; sleep 0.25; done
indi setText "$dev" DEVICE_PORT PORT "$tty" >/dev/null
indi sendProperty "$dev" DEVICE_PORT >/dev/null
indi setSwitch "$dev" CONNECTION CONNECT On >/dev/null
indi sendProperty "$dev" CONNECTION >/dev/null
for _ in $(seq 40); do [ "$(indi getPropertyState "$dev" CONNECTION)" == "Ok" ] && break; sleep 0.25; done
check "connection" "$(indi getPropertyState "$dev" CONNECTION)" "Ok"
sleep 1
echo "interfaces: $(indi getText "$dev" DRIVER_INFO DRIVER_INTERFACE)"
check "DRIVER_INTERFACE (focuser, filter wheel, aux)" "$(indi getText "$dev" DRIVER_INFO DRIVER_INTERFACE)" 32792
echo "properties: $(indi getProperties "$dev" | tr '\n' ' ')"

: > "$tmp/sim.err"
indi setNumber "$dev" FILTER_SLOT FILTER_SLOT_VALUE 3 >/dev/null
indi sendProperty "$dev" FILTER_SLOT >/dev/null
for _ in $(seq 60); do
  [ "$(indi getPropertyState "$dev" FILTER_SLOT)" == "Ok" ] && [ "$(indi getNumber "$dev" FILTER_SLOT FILTER_SLOT_VALUE)" == 3 ] && break
  sleep 0.25
done
check "filter slot through KStars" "$(indi getNumber "$dev" FILTER_SLOT FILTER_SLOT_VALUE)" 3
check "the simulator got FWGOTO" "$(grep -c '<- FWGOTO' "$tmp/sim.err" || true)" 1

indi setNumber "$dev" ABS_FOCUS_POSITION FOCUS_ABSOLUTE_POSITION 12345 >/dev/null
indi sendProperty "$dev" ABS_FOCUS_POSITION >/dev/null
for _ in $(seq 60); do
  [ "$(indi getPropertyState "$dev" ABS_FOCUS_POSITION)" == "Ok" ] &&
    [ "$(indi getNumber "$dev" ABS_FOCUS_POSITION FOCUS_ABSOLUTE_POSITION)" == 12345 ] && break
  sleep 0.25
done
check "focuser position through KStars" "$(indi getNumber "$dev" ABS_FOCUS_POSITION FOCUS_ABSOLUTE_POSITION)" 12345
check "the simulator got FWgoFocus" "$(grep -c '<- FWgoFocus' "$tmp/sim.err" || true)" 1

# The same device on the controller in rotator mode: the rotator interface instead of the wheel.
indi setSwitch "$dev" CONNECTION DISCONNECT On >/dev/null
indi sendProperty "$dev" CONNECTION >/dev/null
# KStars shows the switch Off at once; the driver's Idle says the disconnection has ended.
sleep 1
for _ in $(seq 40); do [ "$(indi getPropertyState "$dev" CONNECTION)" == "Idle" ] && break; sleep 0.25; done
indi setText "$dev" DEVICE_PORT PORT "$tty2" >/dev/null
indi sendProperty "$dev" DEVICE_PORT >/dev/null
indi setSwitch "$dev" CONNECTION CONNECT On >/dev/null
indi sendProperty "$dev" CONNECTION >/dev/null
for _ in $(seq 40); do [ "$(indi getText "$dev" DRIVER_INFO DRIVER_INTERFACE)" == 36872 ] && break; sleep 0.25; done
echo "rotator mode: devices $(indi getDevices | tr '\n' ' '), interfaces $(indi getText "$dev" DRIVER_INFO DRIVER_INTERFACE)"
check "DRIVER_INTERFACE in rotator mode (focuser, rotator, aux)" "$(indi getText "$dev" DRIVER_INFO DRIVER_INTERFACE)" 36872
check "no filter wheel in rotator mode" "$(indi getProperties "$dev" | grep -c FILTER_SLOT || true)" 0
indi setNumber "$dev" ABS_ROTATOR_ANGLE ANGLE 90 >/dev/null
indi sendProperty "$dev" ABS_ROTATOR_ANGLE >/dev/null
for _ in $(seq 80); do
  [ "$(indi getPropertyState "$dev" ABS_ROTATOR_ANGLE)" == "Ok" ] &&
    [ "$(indi getNumber "$dev" ABS_ROTATOR_ANGLE ANGLE | cut -d. -f1)" == 90 ] && break
  sleep 0.25
done
check "rotator angle through KStars" "$(indi getNumber "$dev" ABS_ROTATOR_ANGLE ANGLE | cut -d. -f1)" 90

indi stop "$port" >/dev/null || true
[ $fail -eq 0 ] && echo "kstars_indi: all checks passed" || echo "kstars_indi: FAILED"
exit $fail
