#!/usr/bin/env bash
# Makes the Windows programs' icon apps/velq3.ico from packaging/velq3.svg (run again after a
# change of the picture, and commit the result): 16, 20, 24, 32, 40, 48 and 64 pixels as
# bitmaps, 256 pixels as PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh librsvg2-bin icoutils >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sizes=()
for s in 16 20 24 32 40 48 64; do
  rsvg-convert -w "$s" -h "$s" -o "$tmp/$s.png" packaging/velq3.svg
  sizes+=("$tmp/$s.png")
done
rsvg-convert -w 256 -h 256 -o "$tmp/256.png" packaging/velq3.svg
icotool -c -o apps/velq3.ico "${sizes[@]}" --raw="$tmp/256.png"
icotool -l apps/velq3.ico
