#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when something is missing:
# scripts/setup.sh [MORE_PACKAGES...] (the picture scripts add the X tools they use).
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libboost-dev nlohmann-json3-dev fonts-dejavu-core xauth
          xvfb xdotool libindi-dev indi-bin chromium wrk
          help2man desktop-file-utils systemd dpkg-dev file lintian man-db
          clang libclang-rt-14-dev "$@")
# The Windows build, its setup program (nsis) and its tests under Wine; installed without
# recommends (Wine's would pull in hundreds of desktop packages).
windows_packages=(wine wine64 wine64-tools g++-mingw-w64-x86-64-posix fonts-wine fonts-liberation nsis)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_windows < <(missing_of "${windows_packages[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#missing_windows[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
  fi
  if [ ${#missing_windows[@]} -gt 0 ]; then
    echo "setup: installing ${missing_windows[*]}"
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing_windows[@]}"
  fi
fi
