#!/usr/bin/env bash
# Runs the console text test program under Wine on a virtual screen: Wine
# gives a program's console a screen buffer only when it has a display to
# draw the window on.
#   console-text-win32.sh WINE_RUN PREFIX TEST_PROGRAM.exe [ARGUMENTS...]
set -euo pipefail

wine_run=$1 prefix=$2
shift 2
work=$(mktemp -d)
source "$(dirname "$0")/virtual-screen.sh"

cleanup() {
  stop_virtual_screen "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

start_virtual_screen "$work" || { echo "console-text: no virtual screen" >&2; exit 1; }

# Rows wider than the longest report line (98 characters), so that none
# wraps, and enough of them that a long typed line scrolls nothing away.
"$wine_run" "$prefix" reg add 'HKCU\Console' /v ScreenBufferSize /t REG_DWORD /d 0x01F40064 /f \
  >/dev/null

"$wine_run" "$prefix" "$@"
