#!/usr/bin/env bash
# Cross-compiles the Windows build (64-bit, static) with MinGW-w64 into build-windows/:
#   scripts/build-windows.sh [TARGET...]   (default: everything)
# Its tests run under Wine: ctest --test-dir build-windows (needs velq3-sim of the Linux tree
# build/, or -DVELQ3_LINUX_SIM=<path> given through VELQ3_WINDOWS_CMAKE_ARGS).
set -euo pipefail
cd "$(dirname "$0")/.."
args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DVELQ3_BENCH=OFF)
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# shellcheck disable=SC2206
extra=(${VELQ3_WINDOWS_CMAKE_ARGS:-})
cmake -S . -B build-windows -G Ninja "${args[@]}" "${extra[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build-windows -j "${VELQ3_JOBS:-2}" "${targets[@]}"
