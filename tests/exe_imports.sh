#!/usr/bin/env bash
# velmora.exe is a Windows GUI program of the expected format that needs no
# DLL beyond the system's own: exe_imports.sh VELMORA_EXE FORMAT
set -euo pipefail
exe=$1
format=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
case "$(file -b "$exe")" in
  "$format"*) ;;
  *) fail "not a $format program: $(file -b "$exe")" ;;
esac
imports=$(objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $imports
allowed="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll winmm.dll"
for dll in $imports; do
  case " $allowed " in
    *" $dll "*) ;;
    *) fail "imports $dll, which a bare Windows does not have" ;;
  esac
done
for dll in winmm.dll gdi32.dll user32.dll kernel32.dll advapi32.dll; do
  grep -qx "$dll" <<<"$imports" || fail "does not import $dll"
done
echo "PASS: $format, system DLLs only"
