#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, creating the prefix
# first when it is missing or half made:
#   wine-run.sh [--again-if-not-started] PREFIX PROGRAM.exe [ARGUMENTS...]
# WINE_RUN_DISPLAY names the X display to draw on; without it there is none.
# Wine's own messages are silenced so that a program's output stays its own.
# With --again-if-not-started (the test programs' runner), a run that fails
# without a byte of output, or with nothing but Wine's own start error, is
# taken for what it has been every time it was seen: Wine did not start the
# program at all (within a tenth of a second, on a machine where the same
# program then ran). It is run once more. Any other failure is the program's.
set -euo pipefail

again=false
if [ "${1-}" = --again-if-not-started ]; then
  again=true
  shift
fi
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
# A prefix is whole once Wine has written its registry.
made() { [ -f "$prefix/system.reg" ]; }
# Only what Wine itself puts in a prefix; anything else is not ours to remove.
holds_only_wine_files() {
  [ -z "$(find "$prefix" -mindepth 1 -maxdepth 1 ! -name dosdevices ! -name drive_c \
            ! -name '*.reg' ! -name .update-timestamp -print -quit)" ]
}
# On a fresh machine the very first start has failed once ("could not load
# kernel32.dll") where the same command then worked: a prefix whose creation
# failed, or was cut short, is removed and made once more before giving up.
if ! made; then
  for attempt in 1 2; do
    if [ -e "$prefix" ]; then
      if ! holds_only_wine_files; then
        echo "wine-run: $prefix is not a Wine prefix; not touching it" >&2
        exit 1
      fi
      wineserver -k 2>/dev/null || true
      rm -rf "$prefix"
    fi
    if wineboot -i >"$prefix.log" 2>&1 </dev/null && wineserver -w && made; then
      break
    fi
    wineserver -k 2>/dev/null || true
    cat "$prefix.log" >&2
    if [ "$attempt" -eq 2 ]; then
      echo "wine-run: could not create the Wine prefix $prefix" >&2
      exit 1
    fi
    echo "wine-run: creating the Wine prefix $prefix failed; once more from scratch" >&2
  done
fi
# Starting Wine costs seconds; a server that outlives each program by a
# minute lets the next start in a fraction of one. Its service processes are
# started here, away from this program's streams: a test runner waits for
# every holder of a test's output to finish. They are only a head start:
# their start has now and then failed without a word (a busy machine, the
# prefix's server stopped a moment before), and the program's own start
# brings up what it needs.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  wineboot </dev/null >/dev/null 2>&1 || true
fi
flock -u 9
exec 9>&-

$again || exec wine "$@"

# The program's output passes through as it comes, and is kept to judge
# whether the program ran.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  : >"$out"
  : >"$err"
  exec {to_out}> >(tee -a "$out")
  tee_out=$!
  exec {to_err}> >(tee -a "$err" >&2)
  tee_err=$!
  status=0
  wine "$@" >&"$to_out" 2>&"$to_err" {to_out}>&- {to_err}>&- || status=$?
  # Both copies whole before they are judged.
  exec {to_out}>&- {to_err}>&-
  wait "$tee_out" "$tee_err" || true
  [ "$status" -ne 0 ] || exit 0
  if [ "$attempt" -eq 2 ] || [ -s "$out" ] || grep -qv '^wine: ' "$err"; then
    exit "$status"
  fi
  echo "wine-run: Wine did not start $1 (exit $status, no output); once more" >&2
done
