#!/usr/bin/env bash
# Builds every configuration and runs every test: the native program, then
# the Windows program cross-built with mingw-w64 and tested under Wine on a
# virtual screen.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake make g++ libgtest-dev

cmake --preset native
cmake --build --preset native
ctest --preset native

scripts/ensure-packages.sh cmake make g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest \
  wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool imagemagick x11-apps

# Wine's server outlives the tests by a minute; it must not outlive the run.
trap 'WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true' EXIT

cmake --preset windows
cmake --build --preset windows
ctest --preset windows
