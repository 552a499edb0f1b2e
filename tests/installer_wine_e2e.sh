#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix of its own: a silent
# install puts velmora.exe, the README, the licence and the uninstaller into
# the Program Files of its kind (the 64-bit installer into Program Files, the
# 32-bit one into Program Files (x86) on 64-bit Windows and into Program
# Files on 32-bit Windows), the Start-menu shortcut, and the "Installed apps"
# entry with its version, publisher and size; the installed velmora.exe
# starts and shows its window; an install over it replaces it in place; the
# silent uninstall leaves no file, shortcut or key behind.
#   installer_wine_e2e.sh WINE_LOADER SETUP_EXE VERSION
set -u
source "$(dirname "$0")/e2e_lib.sh"
wine=$1
setup=$(realpath "$2")
version=$3
wineserver=$(dirname "$wine")/wineserver
for tool in Xvfb xdotool "$wine"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  "$wineserver" -k 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
xvfb_up

echo "making a fresh Wine prefix..."
"$wine" wineboot --init >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
# Where Windows puts a program of the installer's kind.
programs='Program Files'
if ! file -b "$setup" | grep -q 'PE32+' && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ]; then
  programs='Program Files (x86)'
fi
echo "a $(file -b "$setup" | cut -d' ' -f1) installer: expected in $programs"
dir="$WINEPREFIX/drive_c/$programs/Velmora"
windir="C:\\$programs\\Velmora"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora'
value() {  # value NAME: the uninstall key's value NAME, or nothing
  "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'
}
# A silent install; the installer's processes are waited for to the last.
install() {
  "$wine" "$setup" /S; local status=$?
  "$wineserver" -w
  return $status
}

check "install: status 0" install
for f in velmora.exe README.md LICENSE Uninstall.exe; do
  check "install: $f in $programs\\Velmora" test -s "$dir/$f"
done
check "install: the Start-menu shortcut" test -s "$menu/Velmora.lnk"
check "install: Installed apps names it" test "$(value DisplayName)" = "Velmora $version"
check "install: with its version" test "$(value DisplayVersion)" = "$version"
check "install: and its publisher" test "$(value Publisher)" = "The Velmora developers"
size=$(value EstimatedSize)
check "install: and its size ($size KiB)" test "$((size))" -gt 100
check "install: and its uninstaller" test "$(value UninstallString)" = "\"$windir\\Uninstall.exe\""

# The installed program starts and shows its window; Escape ends it.
"$wine" "$windir\\velmora.exe" m1 2>"$work/velmora.err" &
velmora_pid=$!
wid=$(wait_window 'VelmoraSystem 132')
check "installed velmora.exe: the window comes" test -n "$wid"
wine_end "$wid" "$velmora_pid" Escape; status=$?
check "installed velmora.exe: Escape, status 0 ($status)" test "$status" -eq 0
"$wineserver" -w

# Over an existing install: the files replaced in place, one entry.
: >"$dir/README.md"
check "again: status 0" install
check "again: the README is the package's again" test -s "$dir/README.md"
check "again: the same files" test "$(ls "$dir" | tr '\n' ' ')" = "LICENSE README.md Uninstall.exe velmora.exe "
check "again: one entry" test "$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | grep -c 'Uninstall\\Velmora')" -eq 1

# The silent uninstall (the uninstaller runs from a copy of itself, whose
# process the wait catches too).
"$wine" "$windir\\Uninstall.exe" /S; status=$?
"$wineserver" -w
check "uninstall: status 0" test "$status" -eq 0
check "uninstall: no folder in $programs" test ! -e "$dir"
check "uninstall: no Start-menu folder" test ! -e "$menu"
check "uninstall: no Installed-apps entry" bash -c '! "$1" reg query "$2" >/dev/null 2>&1' _ "$wine" "$key"
check "uninstall: no key of the vendor's" bash -c '! "$1" reg query "HKLM\Software\The Velmora developers" >/dev/null 2>&1' _ "$wine"
check "uninstall: nothing named velmora left in the prefix" \
  test -z "$(find "$WINEPREFIX/drive_c" -iname '*velmora*' 2>/dev/null)"
exit $fail
