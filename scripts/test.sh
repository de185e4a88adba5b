#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, then a build under AddressSanitizer
# and UndefinedBehaviorSanitizer. In the normal build the tests that start programs run a second
# time as an unprivileged user (uid and gid 65534), so that nothing they rely on needs root, and a
# short soak runs against the release programs (two simulated hours in about two minutes).
# Then the Windows build (scripts/build-windows.sh, tree build-windows/), its setup program
# (scripts/package-windows.sh) and its tests under Wine, as root and as the unprivileged user.
# Then the fuzz targets run briefly (scripts/fuzz.sh, tree build-fuzz/). Last, the Debian package
# is built (scripts/package.sh, tree build-package/) and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Test programs whose tests start programs (velq3, velq3-ctl, velq3-sim, indiserver, chromium) and
# use their pseudo-terminals and sockets.
# (The window tests stay out: they save pictures into the build tree, which belongs to root.)
unprivileged_labels='^test_(e2e|platform|device|link|automation|server|sim|service|alpaca|indi|install|faults)$'
nobody=65534

# Runs the program-starting tests of tree $1 (those with a label matching $2) as uid/gid 65534
# with a VELQ3_HOME, and a Wine folder, of its own.
run_unprivileged() {
  local dir=$1 labels=${2:-$unprivileged_labels}
  if [ "$(id -u)" -ne 0 ]; then
    echo "== unprivileged run skipped: this script is not running as root, so its own run was one"
    return 0
  fi
  local as_nobody=(setpriv --reuid=$nobody --regid=$nobody --clear-groups)
  # The user must reach the test programs: open each folder above the tree that shuts it out.
  local d
  d=$(cd "$dir" && pwd)
  while [ "$d" != / ]; do
    if ! "${as_nobody[@]}" test -x "$d"; then
      echo "== chmod o+rx $d (so that uid $nobody reaches the test programs)"
      chmod o+rx "$d"
    fi
    d=$(dirname "$d")
  done
  local home
  home=$(mktemp -d /tmp/velq3-unprivileged-XXXXXX)
  mkdir "$home/tmp" "$home/ctest"
  # ctest writes its logs beside the test list it is given: a one-line list that includes the
  # tree's keeps them out of the tree, which this user may not write.
  echo "subdirs(\"$(cd "$dir" && pwd)\")" > "$home/ctest/CTestTestfile.cmake"
  chown -R $nobody:$nobody "$home"
  local rc=0
  echo "== unprivileged run (uid $nobody, VELQ3_HOME=$home): tests labelled $labels"
  "${as_nobody[@]}" env HOME="$home" VELQ3_HOME="$home" TMPDIR="$home/tmp" VELQ3_WINE_DIR="$home/wine" \
    ctest --test-dir "$home/ctest" -L "$labels" --output-on-failure --no-tests=error -j 2 || rc=$?
  rm -rf "$home"
  return $rc
}

for kind in release asan; do
  echo "== $kind build"
  scripts/build.sh "$kind"
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "== $kind tests"
  # The fault matrix waits out the controller's time-outs row by row (about two and a half
  # minutes): in the normal tree run by root it runs once, in the unprivileged run.
  skip=()
  if [ "$kind" = release ] && [ "$(id -u)" -eq 0 ]; then skip=(-LE '^test_faults$'); fi
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j 2 "${skip[@]}"
  if [ "$kind" = release ]; then
    run_unprivileged "$dir"
    echo "== soak: 2 simulated hours at 60 times as fast (bench/soak.sh)"
    bench/soak.sh 2
  fi
done

# The Windows build, cross-compiled, and its tests under Wine (one prefix per run, every COM port
# mapped first; the serial tests use the release tree's velq3-sim on COM1).
echo "== Windows build"
VELQ3_WINDOWS_CMAKE_ARGS="-DVELQ3_LINUX_SIM=$PWD/build/apps/velq3-sim" scripts/build-windows.sh
# The setup program the installer test runs (makensis: about 3 s of CPU).
scripts/package-windows.sh >/dev/null
echo "== Windows tests (Wine)"
ctest --test-dir build-windows -L '^windows$' --output-on-failure --no-tests=error -j 2
run_unprivileged build-windows '^windows$'

# The fuzz targets (tree build-fuzz/, clang): 30 s each, two at a time.
echo "== fuzz targets"
scripts/fuzz.sh 30

# The package: its own release tree, so it runs once, after the tests of both builds.
echo "== Debian package"
deb=$(scripts/package.sh)
packaging/check-package.sh "$deb"
