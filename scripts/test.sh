#!/usr/bin/env bash
# Builds every configuration and runs every test: the optimised build with
# the whole-domain checks, the sanitizer build, and a short fuzzing pass.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake make g++ libgtest-dev libbenchmark-dev

echo "== native"
cmake --preset native
cmake --build --preset native
ctest --preset native

echo "== asan"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

echo "== fuzz"
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
