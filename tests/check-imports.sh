#!/usr/bin/env bash
# Checks that a Windows program needs no DLL beyond the system's own kernel
# and C runtime, and that it is a windowed (GUI subsystem) program.
#   check-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail

headers=$("$1" -p "$2")
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u | tr '\n' ' ')
echo "imports: $dlls"
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || { echo "unexpected imports" >&2; exit 1; }

subsystem=$(sed -n 's/^Subsystem[[:space:]]*//p' <<<"$headers")
echo "subsystem: $subsystem"
[[ "$subsystem" == *"(Windows GUI)" ]] || { echo "not a windowed program" >&2; exit 1; }
