#!/usr/bin/env bash
# The packages as a user gets them: the Debian package is built, passes
# lintian without errors, installs with apt-get on this machine, and its
# programs and manual page work from the system's paths; then it is removed.
# The Windows zip holds velmora.exe, the README and the licence; the Windows
# installer is a Nullsoft installer of the build's word size (it is run under
# Wine by installer_wine_e2e.sh where Wine runs it).
#   tests/package_check.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
# Needs root (or sudo) for apt-get.
set -euo pipefail
linux=$1
windows=$2
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$linux" && rm -f velmora_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$linux"/velmora_*_amd64.deb)
echo "built $(basename "$deb")"
lintian_out=$(lintian "$deb" 2>&1 | grep -v 'root privileges' || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
grep -q '^E:' <<<"$lintian_out" && fail "lintian reports errors"
echo "ok: lintian, no errors"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/share/applications/velmora.desktop ./usr/share/metainfo/org.example.velmora.metainfo.xml; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
echo "ok: the package holds the desktop entry and the metainfo"

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$(realpath "$deb")" >/dev/null
trap '"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q velmora >/dev/null' EXIT
version=$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[ "$(/usr/bin/velmora-plan --version)" = "velmora-plan $version" ] || fail "velmora-plan --version"
echo "ok: velmora-plan --version says $version"
man -w velmora | grep -q '^/usr/share/man/man1/velmora.1.gz$' || fail "man velmora finds no page"
MANWIDTH=80 man velmora 2>/dev/null | grep -q 'velmora' || fail "man velmora shows nothing"
echo "ok: man velmora"
out=$(mktemp -d)
/usr/bin/velmora-render --quiet --healing-only 2 --format wav --out "$out/two.wav" ||
  fail "installed velmora-render"
[ "$(stat -c %s "$out/two.wav")" -eq $((44 + 64000)) ] || fail "velmora-render wrote $(stat -c %s "$out/two.wav") bytes"
rm -rf "$out"
echo "ok: the installed velmora-render writes two seconds"

(cd "$windows" && rm -f velmora-*.zip && cpack -G ZIP >/dev/null)
zip=$(ls "$windows"/velmora-"$version"-win*.zip)
listing=$(unzip -Z1 "$zip")
for f in velmora.exe README.md LICENSE; do
  grep -q "/$f\$" <<<"$listing" || fail "$(basename "$zip") lacks $f"
done
echo "ok: $(basename "$zip") holds velmora.exe, README.md and LICENSE ($(stat -c %s "$zip") bytes)"

(cd "$windows" && rm -f velmora-*-setup.exe && cpack -G NSIS >/dev/null)
setup=$(ls "$windows"/velmora-"$version"-win*-setup.exe)
kind=$(file -b "$setup")
grep -q "Nullsoft Installer" <<<"$kind" || fail "$(basename "$setup") is not a Nullsoft installer: $kind"
grep -q "PE32 executable (GUI) Intel 80386" <<<"$kind" || fail "$(basename "$setup") is not 32-bit: $kind"
echo "ok: $(basename "$setup") is a 32-bit Nullsoft installer ($(stat -c %s "$setup") bytes)"
