#!/usr/bin/env bash
# Runs every fuzzer for SECONDS seconds each (default 30), starting from
# seeds written by the test fixtures; fails on any crash or sanitizer report.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

scripts/ensure-packages.sh cmake ninja-build clang libfuzzer-14-dev libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
rm -rf "$build/corpus" "$build/findings"
"$build/fuzz/make_seeds" "$build/corpus"
mkdir -p "$build/findings"
for target in record_block_fuzzer counter_word_fuzzer line_input_fuzzer dump_name_fuzzer; do
  echo "== $target for ${seconds}s"
  mkdir -p "$build/corpus/$target"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$build/findings/$target-" "$build/corpus/$target" \
       > "$build/findings/$target.log" 2>&1; then
    tail -n 40 "$build/findings/$target.log"
    echo "FAILED: $target (inputs in $build/findings)" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/findings/$target.log" || true
done
echo "all fuzzers ran ${seconds}s each without a finding"
