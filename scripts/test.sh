#!/usr/bin/env bash
# Builds every configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake make g++ libgtest-dev libbenchmark-dev

cmake --preset native
cmake --build --preset native
ctest --preset native
