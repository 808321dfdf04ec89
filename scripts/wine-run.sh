#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, creating the prefix
# first when it is missing:  wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# WINE_RUN_DISPLAY names the X display to draw on; without it there is none.
# Wine's own messages are silenced so that a program's output stays its own.
set -euo pipefail

prefix=$(realpath -m "$1")  # Wine takes only an absolute prefix
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# Programs draw on a screen only when asked to (WINE_RUN_DISPLAY); tests on a
# desktop would otherwise open a console window for every run.
if [ -n "${WINE_RUN_DISPLAY:-}" ]; then
  export DISPLAY=$WINE_RUN_DISPLAY
else
  unset DISPLAY WAYLAND_DISPLAY
fi
# No dialog may ask to install Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

mkdir -p "$(dirname "$prefix")"
# Tests may start in parallel; one at a time sets the prefix up.
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
  if ! wineboot -i >"$prefix.log" 2>&1 </dev/null; then
    cat "$prefix.log" >&2
    exit 1
  fi
  wineserver -w
fi
# Starting Wine costs seconds; a server that outlives each program by a
# minute lets the next start in a fraction of one. Its service processes are
# started here, away from this program's streams: a test runner waits for
# every holder of a test's output to finish.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  wineboot </dev/null >/dev/null 2>&1
fi
flock -u 9
exec 9>&-

exec wine "$@"
