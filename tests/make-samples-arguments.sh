#!/usr/bin/env bash
# The fixture writer refuses what it cannot do, on standard error and with a
# failing status, and never passes a fixture it did not write for one it
# did: each case below must fail and say why; a good call must succeed.
#   make-samples-arguments.sh MAKE_SAMPLES
set -uo pipefail
make_samples=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# expect_refused WHAT ARGUMENTS...: fails unless the call fails with a
# message on standard error and writes nothing to standard output.
expect_refused() {
  local what=$1 code
  shift
  "$make_samples" "$@" >"$work/out" 2>"$work/err"
  code=$?
  if [ "$code" -eq 0 ] || [ ! -s "$work/err" ] || [ -s "$work/out" ]; then
    echo "FAILED: $what (make_samples $*): exit $code, stderr: $(cat "$work/err")" >&2
    status=1
  fi
}

mkdir "$work/samples" "$work/unwritable"
expect_refused 'no arguments'
expect_refused 'an unknown option' --no-such-option
expect_refused 'an unknown option before a directory' --no-such-option "$work/samples"
expect_refused 'a folder that is not there' "$work/no/such/folder"
expect_refused 'checking a folder that is not there' --check "$work/no/such/folder"
expect_refused 'two directories' "$work/samples" "$work/samples"
expect_refused 'a count that is no number' --many x "$work/many"
expect_refused 'a negative count' --many -1 "$work/many"
expect_refused 'a file for a directory' "$make_samples"
# A directory it may not write to (root may write anywhere: then only when
# it can run as another user).
chmod 555 "$work/unwritable"
if [ "$(id -u)" -ne 0 ]; then
  expect_refused 'a directory it cannot write' "$work/unwritable"
elif command -v setpriv >/dev/null; then
  chmod 755 "$work"
  make_samples_original=$make_samples
  cp "$make_samples" "$work/make_samples" && chmod 755 "$work/make_samples"
  make_samples="$work/make_samples_as_nobody"
  printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups "%s" "$@"\n' \
    "$work/make_samples" >"$make_samples"
  chmod 755 "$make_samples"
  expect_refused 'a directory it cannot write' "$work/unwritable"
  make_samples=$make_samples_original
fi

# The good calls still work.
if ! "$make_samples" "$work/samples" || ! "$make_samples" --check "$work/samples" ||
   ! "$make_samples" --many 3 "$work/many/deeper"; then
  echo "FAILED: a good call failed" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "make_samples: every bad call refused, every good one done"
exit "$status"
