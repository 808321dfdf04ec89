#!/usr/bin/env bash
# How wine-run.sh copes when starting Wine goes wrong, with stand-ins
# for wineboot, wineserver and wine on the PATH (no Wine runs here):
# a creation that fails once is removed and made again, and the program
# runs; one that fails twice gives up with Wine's own messages shown; a
# prefix half made by an earlier run that was cut short is made anew; a
# directory holding anything Wine would not put there is never removed; a
# failed start of Wine's services, only a head start, does not stop the run.
# With --again-if-not-started, a program Wine did not start (no output at
# all, or only Wine's start error) runs once more, while a program that
# failed after it started, or failed to start twice, fails.
#   wine-start-failures.sh WINE_RUN
set -euo pipefail

wine_run=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "wine-start-failures: $*" >&2; exit 1; }

# wineboot -i fails as often as $work/failures says, leaving a half-made
# prefix behind (its registry already written), then succeeds. Plain
# wineboot, which starts the services, fails when STANDIN_SERVICES_FAIL is set.
mkdir "$work/bin"
cat >"$work/bin/wineboot" <<'EOF'
#!/usr/bin/env bash
[ "${1:-}" = -i ] || exit "${STANDIN_SERVICES_FAIL:-0}"
echo "wineboot -i" >>"$STANDIN_LOG"
mkdir -p "$WINEPREFIX/drive_c" "$WINEPREFIX/dosdevices"
touch "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"
left=$(cat "$STANDIN_FAILURES")
if [ "$left" -gt 0 ]; then
  echo $((left - 1)) >"$STANDIN_FAILURES"
  touch "$WINEPREFIX/drive_c/half-made"
  echo "wine: could not load kernel32.dll, status c0000135"
  exit 1
fi
EOF
cat >"$work/bin/wineserver" <<'EOF'
#!/usr/bin/env bash
echo "wineserver $*" >>"$STANDIN_LOG"
EOF
# wine fails to start the program as often as $work/unstarted says (with
# the message STANDIN_START_ERROR, or none), then runs it; the program
# itself fails (after output) when STANDIN_PROGRAM_FAILS is set.
cat >"$work/bin/wine" <<'EOF'
#!/usr/bin/env bash
echo "wine $*" >>"$STANDIN_LOG"
left=$(cat "$STANDIN_UNSTARTED" 2>/dev/null || echo 0)
if [ "$left" -gt 0 ]; then
  echo $((left - 1)) >"$STANDIN_UNSTARTED"
  [ -z "${STANDIN_START_ERROR:-}" ] || echo "$STANDIN_START_ERROR" >&2
  exit 1
fi
[ -e "$WINEPREFIX/drive_c/half-made" ] && echo "ran in a half-made prefix"
echo "ran $*"
if [ -n "${STANDIN_PROGRAM_FAILS:-}" ]; then
  echo "[  FAILED  ] a test" >&2
  exit 1
fi
EOF
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" STANDIN_LOG="$work/calls" STANDIN_FAILURES="$work/failures"
export STANDIN_UNSTARTED="$work/unstarted"

# run FAILURES: wine-run.sh on $work/prefix with wineboot failing FAILURES
# times; its status, output and error output land in $work.
run() {
  echo "$1" >"$work/failures"
  : >"$work/calls"
  status=0
  "$wine_run" "$work/prefix" program.exe argument >"$work/out" 2>"$work/err" || status=$?
}
boots() { grep -c '^wineboot -i$' "$work/calls" || true; }

run 1
[ "$status" -eq 0 ] || fail "a creation that failed once: exit $status: $(cat "$work/err")"
[ "$(cat "$work/out")" = "ran program.exe argument" ] || fail "a creation that failed once: $(cat "$work/out")"
[ "$(boots)" -eq 2 ] || fail "a creation that failed once: $(boots) creations"
grep -q 'kernel32' "$work/err" || fail "the failed creation's messages are not shown"
echo "failed once: made again, program ran"

rm -rf "$work/prefix"
run 2
[ "$status" -ne 0 ] || fail "a creation that failed twice was reported as success"
[ "$(boots)" -eq 2 ] || fail "a creation that failed twice: $(boots) creations"
[ ! -s "$work/out" ] || fail "the program ran without a prefix: $(cat "$work/out")"
grep -q 'could not create' "$work/err" || fail "giving up says nothing: $(cat "$work/err")"
echo "failed twice: gave up, exit $status"

# What a run cut short during the creation leaves: no registry yet.
rm -rf "$work/prefix"
mkdir -p "$work/prefix/drive_c"
touch "$work/prefix/drive_c/half-made"
run 0
[ "$status" -eq 0 ] && [ "$(cat "$work/out")" = "ran program.exe argument" ] ||
  fail "a half-made prefix: exit $status: $(cat "$work/out") $(cat "$work/err")"
echo "half made earlier: made anew, program ran"

rm -rf "$work/prefix"
mkdir "$work/prefix"
echo keep >"$work/prefix/notes.txt"
run 0
[ "$status" -ne 0 ] || fail "a directory that is no prefix was used as one"
[ -f "$work/prefix/notes.txt" ] || fail "a directory that is no prefix was removed"
[ "$(boots)" -eq 0 ] || fail "wineboot ran in a directory that is no prefix"
echo "not a prefix: left alone, exit $status"

rm -rf "$work/prefix"
STANDIN_SERVICES_FAIL=1 run 0
[ "$status" -eq 0 ] && [ "$(cat "$work/out")" = "ran program.exe argument" ] ||
  fail "a failed start of the services stopped the run: exit $status: $(cat "$work/err")"
echo "services failed to start: program ran"

# again UNSTARTED [ENVIRONMENT...]: wine-run.sh --again-if-not-started with
# Wine failing to start the program UNSTARTED times.
again() {
  echo "$1" >"$work/unstarted"
  shift
  : >"$work/calls"
  status=0
  env "$@" "$wine_run" --again-if-not-started "$work/prefix" program.exe argument \
    >"$work/out" 2>"$work/err" || status=$?
}
starts() { grep -c '^wine program.exe' "$work/calls" || true; }

again 1
[ "$status" -eq 0 ] && [ "$(cat "$work/out")" = "ran program.exe argument" ] && [ "$(starts)" -eq 2 ] ||
  fail "not started once, no output: exit $status, $(starts) starts: $(cat "$work/out" "$work/err")"
grep -q 'did not start' "$work/err" || fail "the second start is not reported"
again 1 STANDIN_START_ERROR='wine: could not load kernel32.dll, status c0000135'
[ "$status" -eq 0 ] && [ "$(starts)" -eq 2 ] ||
  fail "not started once, with Wine's start error: exit $status, $(starts) starts"
echo "not started once: started again, program ran"

again 2
[ "$status" -ne 0 ] && [ "$(starts)" -eq 2 ] ||
  fail "not started twice: exit $status after $(starts) starts"
echo "not started twice: failed, exit $status"

again 0 STANDIN_PROGRAM_FAILS=1
[ "$status" -ne 0 ] && [ "$(starts)" -eq 1 ] ||
  fail "a program that failed after it started: exit $status after $(starts) starts"
[ "$(cat "$work/out")" = "ran program.exe argument" ] && grep -q FAILED "$work/err" ||
  fail "a failed program's output is not passed on: $(cat "$work/out" "$work/err")"
again 1 STANDIN_START_ERROR='err:module:import_dll Library foo.dll not found'
[ "$status" -ne 0 ] && [ "$(starts)" -eq 1 ] ||
  fail "a failure with a message of its own was started again: $(starts) starts"
echo "failed after starting, or with a message of its own: failed at once, exit $status"
