# Sourced by scripts that need a running service: starts `velq3 --service --simulate` on a free
# Alpaca port with a VELQ3_HOME of its own, stops it and removes that folder at exit, and sets
# `home`, `pid` and `port`; `connect_focuser0` connects the service's focuser 0 and sets `url`. The caller's name for messages is in `who`; a caller that defines
# `before_service_start` gets it called with the new folder before the service starts.
# VELQ3_PROGRAM runs another build of velq3 (to compare two builds side by side).
home=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT
if declare -F before_service_start >/dev/null; then before_service_start "$home"; fi
VELQ3_HOME=$home "${VELQ3_PROGRAM:-build/apps/velq3}" --service --simulate --alpaca-port 0 >"$home/velq3.out" 2>&1 &
pid=$!

# The port velq3 announces: the last number on its line about the Alpaca server.
port=
for _ in $(seq 1 150); do
  port=$(grep -m1 'Alpaca' "$home/velq3.out" 2>/dev/null | grep -oE '[0-9]{1,5}\b' | tail -1 || true)
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "$who: velq3 --service did not announce its Alpaca port:" >&2
  cat "$home/velq3.out" >&2
  exit 1
fi

# Connects focuser 0 (the benchmarks' device) and sets `url` to its API path; exits on failure.
connect_focuser0() {
  url=http://127.0.0.1:$port/api/v1/focuser/0
  local reply
  reply=$(curl -s -X PUT -d 'Connected=true&ClientID=1&ClientTransactionID=1' "$url/connected")
  case "$reply" in
    *'"ErrorNumber":0'*) ;;
    *) echo "$who: connecting focuser 0 failed: $reply" >&2; exit 1 ;;
  esac
}
