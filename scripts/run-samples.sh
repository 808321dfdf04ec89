#!/usr/bin/env bash
# Builds the tool and runs it on the bundled sample dumps.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake ninja-build g++
cmake --preset native >/dev/null
cmake --build --preset native --target dumpscan >/dev/null
cd samples
exec ../build/native/dumpscan
