#!/usr/bin/env bash
# Screenshot of the Alpaca setup page for a person to look at: velq3 --service --simulate with
# the filter wheel and focuser connected, /setup loaded in headless Chromium, saved as
# build/setup_page.png (or the file given). Usage: scripts/setup-page-png.sh [FILE.png] [PAGE]
# PAGE defaults to /setup (e.g. /setup/v1/focuser/0/setup).
set -euo pipefail
cd "$(dirname "$0")/.."
png=$(realpath -m "${1:-build/setup_page.png}")
page=${2:-/setup}
command -v chromium >/dev/null || { echo "setup-page-png: chromium is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
[ -x build/apps/velq3 ] || scripts/build.sh release >/dev/null

who=setup-page-png
. scripts/service-on-free-port.sh

api=http://127.0.0.1:$port/api/v1
curl -s -X PUT -d 'Connected=true' "$api/filterwheel/0/connected" >/dev/null
curl -s -X PUT -d 'Connected=true' "$api/focuser/0/connected" >/dev/null
curl -s -X PUT -d 'Position=2' "$api/filterwheel/0/position" >/dev/null
sleep 1.5  # the move ends and the next status poll has run

mkdir -p "$(dirname "$png")"
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --user-data-dir="$home/chromium" \
  --virtual-time-budget=3000 --hide-scrollbars --window-size=1100,1000 \
  --screenshot="$png" "http://127.0.0.1:$port$page" >/dev/null 2>&1
echo "$png"
