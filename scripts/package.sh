#!/usr/bin/env bash
# Builds the Debian package in a release tree of its own (build-package/, installed under /usr,
# with Debian's compiler and linker hardening flags) and prints the path of the .deb.
# Needs dpkg-dev (dpkg-buildflags, and dpkg-shlibdeps for the dependencies) and file.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022  # the package's files and folders: 0644 and 0755
dir=${VELQ3_PACKAGE_TREE:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELQ3_BENCH=OFF >/dev/null
# Only what the package carries: no test programs.
cmake --build "$dir" --target velq3_installables -j "$(nproc)" >&2
rm -rf "$dir/deb"
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/deb/*.deb
