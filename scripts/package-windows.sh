#!/usr/bin/env bash
# Builds the Windows setup program and prints its path, build-windows/velq3-setup-<version>.exe
# (the project's version). It carries velq3.exe and velq3-ctl.exe of build-windows/, built first
# when they are not up to date; the installer script is packaging/windows/velq3.nsi (NSIS).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v makensis >/dev/null; then
  echo "package-windows: makensis is missing (Debian package nsis; scripts/setup.sh installs it)" >&2
  exit 2
fi
scripts/build-windows.sh velq3-setup >&2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
setup=build-windows/velq3-setup-$version.exe
[ -f "$setup" ] || { echo "package-windows: $setup was not made" >&2; exit 1; }
echo "$setup"
