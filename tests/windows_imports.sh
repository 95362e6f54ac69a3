#!/usr/bin/env bash
# velmora.exe imports only DLLs that every Windows 10 and 11 has: no compiler runtime
# (libstdc++, libgcc, winpthread) and no d3d8.dll, which it loads itself.
# Usage: windows_imports.sh OBJDUMP VELMORA_EXE
set -u
objdump=$1 exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "FAIL: no imports found in $exe"; exit 1; }
allowed=" kernel32.dll user32.dll gdi32.dll ole32.dll winmm.dll msvcrt.dll advapi32.dll "
status=0
for dll in $dlls; do
    case "$dll" in
    api-ms-win-crt-*.dll | ucrtbase.dll) ;; # the universal C runtime
    *) [[ "$allowed" == *" $dll "* ]] || { echo "FAIL: imports $dll"; status=1; } ;;
    esac
done
echo "imports:" $dlls
exit $status
