#!/usr/bin/env bash
# Builds every configuration and runs every test: the optimised native
# build with the whole-domain checks, the Windows program cross-built with
# mingw-w64 and tested under Wine on a virtual screen, the sanitizer build,
# and a short fuzzing pass.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every CTest leg's counts, summed into one closing line.
passed=0
failed=0
run_ctest() {
  local log
  log=$(mktemp)
  local status=0
  ctest "$@" 2>&1 | tee "$log" || status=$?
  local total failures
  total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${failures:-0}))
  failed=$((failed + ${failures:-0}))
  return "$status"
}

scripts/ensure-packages.sh cmake make g++ libgtest-dev libbenchmark-dev

echo "== native"
cmake --preset native
cmake --build --preset native
run_ctest --preset native

echo "== windows"
scripts/ensure-packages.sh cmake make g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest \
  wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool imagemagick x11-apps

# Wine's server outlives the tests by a minute; it must not outlive the run.
trap 'WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true' EXIT

cmake --preset windows
cmake --build --preset windows
run_ctest --preset windows

echo "== asan"
cmake --preset asan
cmake --build --preset asan
run_ctest --preset asan

echo "== fuzz"
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

echo "tests: $passed passed, $failed failed"
