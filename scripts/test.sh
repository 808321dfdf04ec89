#!/usr/bin/env bash
# Builds every configuration and runs every test leg: the optimised native
# build with the whole-domain checks, the Windows program cross-built with
# mingw-w64 and tested under Wine on a virtual screen, the sanitizer build,
# the web page (WebAssembly, tested under node and in headless Chromium),
# and a short fuzzing pass. Every leg runs even when an earlier one failed;
# each leg's result is printed at the end, and the script fails when any did.
set -uo pipefail
cd "$(dirname "$0")/.."

# Every CTest leg's counts ("total failed" a line), summed into one closing
# line. Legs run in subshells, so the counts go through a file.
counts=$(mktemp)
run_ctest() {
  local log status=0 total failures
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log" || status=$?
  total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  echo "${total:-0} ${failures:-0}" >>"$counts"
  return "$status"
}

# One configure-build-test leg of a preset.
preset_leg() {
  cmake --preset "$1" && cmake --build --preset "$1" && run_ctest --preset "$1"
}

# leg NAME COMMAND...: runs one leg in a subshell that stops at its first
# failing step, and records how it ended and how long it took.
results=()
any_failed=0
leg() {
  local name=$1 start status
  shift
  echo "== $name"
  start=$SECONDS
  ( set -e; "$@" )
  status=$?
  if [ "$status" -eq 0 ]; then
    results+=("passed  $name ($((SECONDS - start)) s)")
  else
    results+=("FAILED  $name ($((SECONDS - start)) s, exit $status)")
    any_failed=1
  fi
}

# The native build; its CSV is opened in LibreOffice and Gnumeric and read
# back with openpyxl (label spreadsheet).
native_leg() {
  scripts/ensure-packages.sh libreoffice-calc-nogui gnumeric python3-openpyxl
  preset_leg native
}

windows_leg() {
  scripts/ensure-packages.sh cmake ninja-build g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
    googletest wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool imagemagick x11-apps strace
  preset_leg windows
}

# cross_leg PRESET COMPILER_PACKAGE: a Linux build for another CPU, its
# tests run under qemu-user.
cross_leg() {
  scripts/ensure-packages.sh cmake ninja-build "$2" qemu-user-static googletest
  preset_leg "$1"
}

clang_libcxx_leg() {
  scripts/ensure-packages.sh cmake ninja-build clang libc++-14-dev libc++abi-14-dev googletest
  preset_leg clang-libcxx
}

# The web page: built with emscripten, the engine's tests under node, the
# page in headless Chromium, headless Firefox and WebKit (on a virtual
# screen) compared with the native program, which this leg builds first
# (only its program, fixture writer and CSV writer) so that it stands alone. Firefox's
# driver and the accessibility checker come from npm, pinned by
# tests/browser/npm's lock file, into the build tree.
web_leg() {
  scripts/ensure-packages.sh cmake ninja-build g++ libgtest-dev libbenchmark-dev googletest \
    emscripten nodejs chromium chromium-driver python3-selenium firefox-esr \
    webkit2gtk-driver gir1.2-webkit2-4.1 gir1.2-gtk-3.0 python3-gi xvfb xdotool
  command -v npm >/dev/null || scripts/ensure-packages.sh npm
  cmake --preset native
  cmake --build --preset native --target dumpscan make_samples write_csv
  mkdir -p build/web/npm
  cp tests/browser/npm/package.json tests/browser/npm/package-lock.json build/web/npm/
  (cd build/web/npm && npm ci --ignore-scripts --no-audit --no-fund)
  preset_leg web
}

scripts/ensure-packages.sh cmake ninja-build g++ libgtest-dev libbenchmark-dev || exit 1

# Wine's server outlives the tests by a minute; it must not outlive the run.
trap 'WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true; rm -f "$counts"' EXIT

leg native native_leg
leg windows windows_leg
leg asan preset_leg asan
leg clang-libcxx clang_libcxx_leg
leg web web_leg
leg linux-arm64 cross_leg linux-arm64 g++-aarch64-linux-gnu
leg linux-s390x cross_leg linux-s390x g++-s390x-linux-gnu
leg linux-armhf cross_leg linux-armhf g++-arm-linux-gnueabihf
leg fuzz scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
leg release scripts/check-release.sh
leg lint scripts/lint.sh

echo
echo "== legs"
printf '%s\n' "${results[@]}"
read -r passed failed < <(awk '{ t += $1; f += $2 } END { print t - f, f + 0 }' "$counts")
echo "tests: $passed passed, $failed failed"
exit "$any_failed"
