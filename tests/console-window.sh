#!/usr/bin/env bash
# A person's view of the Windows program: started without redirection on a
# virtual screen, it must open its console window, show the report, take a
# typed line and end with exit code 0.
#   console-window.sh WINE_RUN PREFIX PROGRAM.exe DUMP_DIRECTORY SCREENSHOT.png
set -euo pipefail

wine_run=$1 prefix=$2 program=$3 dumps=$4 screenshot=$5
tool_pid=""
work=$(mktemp -d)
source "$(dirname "$0")/virtual-screen.sh"

cleanup() {
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null || true
  stop_virtual_screen "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "console-window: $*" >&2; exit 1; }

start_virtual_screen "$work" || fail "no virtual screen"

# A console wide enough for the longest report line, tall enough for the
# samples, so that the picture shows the whole run.
"$wine_run" "$prefix" reg add 'HKCU\Console' /v WindowSize /t REG_DWORD /d 0x00200064 /f >/dev/null
"$wine_run" "$prefix" reg add 'HKCU\Console' /v ScreenBufferSize /t REG_DWORD /d 0x01F40064 /f >/dev/null

(cd "$dumps" && exec "$wine_run" "$prefix" "$program") &
tool_pid=$!

window=""
for _ in $(seq 600); do
  window=$(xdotool search --name 'dumpscan\.exe' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  kill -0 "$tool_pid" 2>/dev/null || fail "the program ended before its console window appeared"
  sleep 0.1
done
[ -n "$window" ] || fail "no console window within 60 seconds"

# The report is written before the prompt; give the window a moment to draw.
sleep 2
import -window root "$screenshot"
# The window alone, beside the whole screen; its text area (the window less
# the scroll bar) must not be empty.
eval "$(xdotool getwindowgeometry --shell "$window")"
window_picture="${screenshot%.png}-only.png"
convert "$screenshot" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$window_picture"
mean=$(convert "$window_picture" -crop "$((WIDTH - 30))x${HEIGHT}+0+0" +repage \
         -colorspace Gray -format '%[fx:mean]' info:)
awk -v m="$mean" 'BEGIN { exit !(m > 0.01) }' || fail "the console window shows no text (mean $mean)"
echo "screenshots: $screenshot $window_picture"

xdotool windowfocus --sync "$window"
xdotool type --delay 20 "done reading"
xdotool key Return

for _ in $(seq 300); do
  kill -0 "$tool_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$tool_pid" 2>/dev/null && fail "the program did not end within 30 seconds of the typed line"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 0 ] || fail "exit code $status"
echo "ended with exit code 0"
