#!/usr/bin/env bash
# Configures and builds one tree: scripts/build.sh [release|debug|asan] (default release).
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
case "$kind" in
  release) dir=build;      args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  debug)   dir=build-debug; args=(-DCMAKE_BUILD_TYPE=Debug) ;;
  asan)    dir=build-asan;  args=(-DCMAKE_BUILD_TYPE=Debug -DVELQ3_SANITIZE=ON -DVELQ3_BENCH=OFF) ;;
  *) echo "usage: $0 [release|debug|asan]" >&2; exit 2 ;;
esac
# A compiler cache, when one is installed, makes rebuilds of other trees and checkouts quick.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
