#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when something is missing:
# scripts/setup.sh [MORE_PACKAGES...] (the picture scripts add the X tools they use).
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libboost-dev nlohmann-json3-dev fonts-dejavu-core xauth
          xvfb xdotool libindi-dev indi-bin chromium wrk
          help2man desktop-file-utils systemd dpkg-dev file lintian man-db
          clang libclang-rt-14-dev "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
