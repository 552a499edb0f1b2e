#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands where.
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: install"; exit 1; }
fail=0
for f in bin/velmora bin/velmora-plan bin/velmora-render share/man/man1/velmora.1.gz \
         share/man/man1/velmora-plan.1.gz share/man/man1/velmora-render.1.gz \
         share/applications/velmora.desktop share/metainfo/org.example.velmora.metainfo.xml \
         share/icons/hicolor/scalable/apps/velmora.svg \
         share/doc/velmora/README.md share/doc/velmora/LICENSE share/doc/velmora/copyright \
         share/doc/velmora/changelog.gz; do
  [ -e "$prefix/$f" ] || { echo "FAIL: missing $f"; fail=1; }
done
"$prefix/bin/velmora-plan" --version | grep -Eq '^velmora-plan [0-9]+\.[0-9]+\.[0-9]+$' ||
  { echo "FAIL: installed velmora-plan --version"; fail=1; }
"$prefix/bin/velmora-render" --quiet --healing-only 1 --format raw --out "$prefix/one.raw" &&
  [ "$(stat -c %s "$prefix/one.raw")" -eq 32000 ] || { echo "FAIL: installed velmora-render"; fail=1; }
# The desktop's metadata as the desktop's own tools read it.
if command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null; then
  out=$(desktop-file-validate "$prefix/share/applications/velmora.desktop" 2>&1) ||
    { echo "FAIL: desktop-file-validate: $out"; fail=1; }
  out=$(appstreamcli validate --no-net "$prefix/share/metainfo/org.example.velmora.metainfo.xml" 2>&1) ||
    { echo "FAIL: appstreamcli validate: $out"; fail=1; }
else
  echo "note: desktop-file-utils or appstream missing; the desktop metadata is not validated"
fi
for page in "$prefix"/share/man/man1/*.1.gz; do
  if [ -n "$(man --warnings -l "$page" 2>&1 >/dev/null)" ]; then echo "FAIL: man warnings in $page"; fail=1; fi
done
exit $fail
