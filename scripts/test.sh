#!/usr/bin/env bash
# Builds every configuration and runs every test: the optimised native
# build with the whole-domain checks, the Windows program cross-built with
# mingw-w64 and tested under Wine on a virtual screen, the sanitizer build,
# and a short fuzzing pass.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake make g++ libgtest-dev libbenchmark-dev

echo "== native"
cmake --preset native
cmake --build --preset native
ctest --preset native

echo "== windows"
scripts/ensure-packages.sh cmake make g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest \
  wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool imagemagick x11-apps

# Wine's server outlives the tests by a minute; it must not outlive the run.
trap 'WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true' EXIT

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

echo "== asan"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

echo "== fuzz"
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
