#!/usr/bin/env bash
# Checks the Debian package $1: the files it must carry (dpkg-deb -c), its control fields, and
# lintian without errors (its warnings are printed).
set -euo pipefail
deb=$1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

list=$(dpkg-deb -c "$deb")
for f in ./usr/bin/velq3 ./usr/bin/velq3-sim ./usr/bin/velq3-ctl ./usr/bin/velq3-probe \
         ./usr/bin/indi_velq3 ./usr/share/indi/indi_velq3.xml \
         ./usr/share/applications/velq3.desktop ./usr/share/icons/hicolor/scalable/apps/velq3.svg \
         ./usr/share/man/man1/velq3.1.gz ./usr/share/man/man1/velq3-sim.1.gz \
         ./usr/share/man/man1/velq3-ctl.1.gz ./usr/share/man/man1/velq3-probe.1.gz \
         ./usr/share/man/man1/indi_velq3.1.gz ./usr/lib/systemd/user/velq3.service \
         ./usr/share/doc/velq3/60-velq3.rules.example ./usr/share/doc/velq3/copyright \
         ./usr/share/doc/velq3/changelog.Debian.gz; do
  grep -q " $f\$" <<<"$list" || bad "the package lacks $f"
done
# Everything belongs to root, and nothing lies outside /usr.
awk '$2 != "root/root" { print "FAIL: not root/root: " $0; exit 1 }' <<<"$list" || fail=1
awk '$6 !~ /^\.\/(usr\/.*)?$/ { print "FAIL: outside /usr: " $6; exit 1 }' <<<"$list" || fail=1

# Dependencies come from the linked libraries (shlibdeps).
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libindi; do
  grep -q "$lib" <<<"$depends" || bad "Depends lacks $lib: $depends"
done
# The HTTP server is built from headers; no HTTP library is installed with the package.
! grep -q "httplib" <<<"$depends" || bad "Depends names an HTTP library: $depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
grep -qw "indi-bin" <<<"$recommends" || bad "Recommends lacks indi-bin (indiserver starts indi_velq3): $recommends"
[ -z "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm')" ] \
  || bad "the package has maintainer scripts"

# The packaged programs run (unpacked into a temporary folder, with a home of their own).
work=$(mktemp -d "${TMPDIR:-/tmp}/velq3-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
version=$(dpkg-deb -f "$deb" Version)
out=$(VELQ3_HOME=$work/home HOME=$work/home "$work/root/usr/bin/velq3" --version) || bad "velq3 --version exits $?"
[ "$out" = "velq3 ${version%-*}" ] || bad "the packaged velq3 --version printed '$out' (package version $version)"
grep -qx "ExecStart=/usr/bin/velq3 --service" "$work/root/usr/lib/systemd/user/velq3.service" \
  || bad "the packaged unit does not start /usr/bin/velq3 --service"

if command -v lintian >/dev/null; then
  # lintian warns that it runs as root, which is no finding about the package.
  out=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1) || { echo "$out"; bad "lintian reports errors"; }
  [ -z "$out" ] || { echo "lintian:"; echo "$out"; }
else
  echo "skipped: lintian not installed (Debian package lintian)"
  exit 77
fi
[ $fail -eq 0 ] || exit 1
echo "package checks passed: $deb"
