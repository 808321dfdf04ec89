#!/usr/bin/env bash
# Runs the console text test program under Wine on a virtual screen: Wine
# gives a program's console a screen buffer only when it has a display to
# draw the window on.
#   console-text-win32.sh WINE_RUN PREFIX TEST_PROGRAM.exe [ARGUMENTS...]
set -euo pipefail

wine_run=$1 prefix=$2
shift 2
xvfb_pid=""
work=$(mktemp -d)

cleanup() {
  # Neither the server of this prefix nor the screen it draws on outlives
  # this run, not even while ending: the next run may start at once.
  WINEPREFIX=$(realpath -m "$prefix") wineserver -k 2>/dev/null || true
  WINEPREFIX=$(realpath -m "$prefix") wineserver -w 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A screen of our own on the first free display number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "console-text: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
  exit 1
fi
export WINE_RUN_DISPLAY=":$(head -n1 "$work/display")"

# Rows wider than the longest report line (98 characters), so that none
# wraps, and enough of them that a long typed line scrolls nothing away.
"$wine_run" "$prefix" reg add 'HKCU\Console' /v ScreenBufferSize /t REG_DWORD /d 0x01F40064 /f \
  >/dev/null

"$wine_run" "$prefix" "$@"
