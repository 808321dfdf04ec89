#!/usr/bin/env bash
# Times dumpscan against the system-call floor (bench/floor.c) and a plain
# Python version (bench/dumpscan.py) on generated directories of dumps, and
# reports run times, ratios, system calls per dump, peak memory and the
# decoders' nanoseconds per block. Takes several minutes; not part of CTest.
# First it times start-up: the released Linux program (the static-pie one
# of dist/'s x86-64 tarball, made by scripts/release.sh when missing), the
# floor and the native build in an empty directory and with 10 dumps.
#
#   bench/run.sh                 sizes 1000 10000 100000
#   BENCH_SIZES="1000" BENCH_ROUNDS=3 bench/run.sh
#   BENCH_SIZES="" bench/run.sh  start-up and decoders only
#   BENCH_WINDOWS=only bench/run.sh   the Windows row alone (a few minutes)
#   BENCH_WINDOWS=0 bench/run.sh      without the Windows row
#
# The Windows row (on by default) times the Windows program against its
# own floor (bench/floor_win32.c), both cross-built with mingw-w64 and run
# under Wine, in an empty folder and at BENCH_WINDOWS_SIZES dumps (default
# 10000), in BENCH_WINDOWS_ROUNDS alternating rounds (default 10 at each
# size, 20 in the empty folder) of BENCH_WINDOWS_RUNS runs per program
# (default 3 at each size, 10 in the empty folder). BENCH_WINDOWS_PROGRAM
# times another build of dumpscan.exe in place of this tree's. With
# BENCH_WINDOWS=only the last line reads "windows floor ratio at N files:
# X.XX"; in a whole run it comes before the native summary.
#
# Output goes to a file and input comes from /dev/null in every timed run,
# as in a scripted run of the tool. The three programs are timed in
# alternating rounds (one hyperfine call per round, with its own warmup), so
# a change in the machine's load during the run falls on all three alike;
# minimum and median are over all rounds (bench/summarise.py makes each
# table row from hyperfine's exports). The last line reads
# "floor ratio at N files: X.XX" for the largest size, the ratio of the
# median times.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sizes=(${BENCH_SIZES-1000 10000 100000})
rounds=${BENCH_ROUNDS:-5}
startup_rounds=${BENCH_STARTUP_ROUNDS:-20}  # each runs every program BENCH_STARTUP_RUNS times
startup_runs=${BENCH_STARTUP_RUNS:-50}
runs=${BENCH_RUNS:-3}      # per round
warmup=${BENCH_WARMUP:-1}  # per round
windows=${BENCH_WINDOWS:-1}
windows_sizes=(${BENCH_WINDOWS_SIZES-10000})

mkdir -p "$root/build"
work=$(mktemp -d "$root/build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The Windows row. Wine gives a windowed program redirected standard
# handles only when cmd starts it, so both programs are started as
# "wine cmd /c PROGRAM > FILE < NUL"; Wine's server is kept running between
# runs, so each run pays for two process starts under Wine, not for Wine's
# own start. The two programs alternate in every round, each round in the
# other order, so that both sides of a ratio share the machine's state.
windows_summary=$work/windows.txt
windows_ratio=""
windows_row() {
  scripts/ensure-packages.sh cmake ninja-build g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
    googletest wine wine64 hyperfine python3
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target dumpscan floor >/dev/null
  local tool=${BENCH_WINDOWS_PROGRAM:-$root/build/windows/dumpscan.exe}
  local floor=$root/build/windows/bench/floor.exe
  local prefix=$root/build/windows/wineprefix-bench
  scripts/wine-run.sh "$prefix" cmd /c exit  # makes the prefix, starts its server
  local winpath
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  local run_tool="wine cmd /c '$(winpath "$tool") > $(winpath "$work/out.tool") < NUL'"
  local run_floor="wine cmd /c '$(winpath "$floor") > $(winpath "$work/out.floor") < NUL'"
  echo "windows program: $tool; floor: $floor"
  echo "wine: $(wine --version 2>/dev/null)"
  printf '| folder | dumpscan.exe min / median | floor min / median | dumpscan.exe / floor, median (min) |\n' \
    >"$windows_summary"
  printf '|---|---|---|---|\n' >>"$windows_summary"
  local n dir rounds_here runs_here round
  for n in 0 "${windows_sizes[@]}"; do
    dir=$work/windows-$n
    mkdir "$dir"
    # Copies of one valid dump: every line then has the length the floor
    # writes, so both outputs must be the same size.
    python3 - "$root/samples/valid.bin" "$dir" "$n" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
for k in range(int(sys.argv[3])):
    open("%s/dump%06d.bin" % (sys.argv[2], k), "wb").write(data)
PY
    if [ "$n" -eq 0 ]; then
      rounds_here=${BENCH_WINDOWS_ROUNDS:-20} runs_here=${BENCH_WINDOWS_RUNS:-10}
    else
      rounds_here=${BENCH_WINDOWS_ROUNDS:-10} runs_here=${BENCH_WINDOWS_RUNS:-3}
    fi
    cd "$dir"
    (
      export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
      unset DISPLAY WAYLAND_DISPLAY
      for round in $(seq "$rounds_here"); do
        if [ $((round % 2)) -eq 1 ]; then
          programs=(-n dumpscan "$run_tool" -n floor "$run_floor")
        else
          programs=(-n floor "$run_floor" -n dumpscan "$run_tool")
        fi
        hyperfine -N --warmup 1 --runs "$runs_here" --style none \
          --export-json "$work/windows-$n-$round.json" "${programs[@]}" </dev/null >/dev/null
      done
    )
    cd "$root"
    local bytes_tool bytes_floor
    bytes_tool=$(stat -c %s "$work/out.tool") bytes_floor=$(stat -c %s "$work/out.floor")
    if [ "$bytes_tool" != "$bytes_floor" ]; then
      echo "dumpscan.exe wrote $bytes_tool bytes, the floor $bytes_floor" >&2
      exit 1
    fi
    local row
    row=$(python3 "$root/bench/summarise.py" windows "$n" "$work"/windows-"$n"-*.json)
    windows_ratio=$(head -n1 <<<"$row")
    tail -n1 <<<"$row" >>"$windows_summary"
    tail -n1 <<<"$row"
    rm -rf "$dir"
  done
  windows_last=${windows_sizes[-1]:-0}
}

if [ "$windows" = only ]; then
  echo "machine: $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  windows_row
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  cat "$windows_summary"
  echo
  echo "windows floor ratio at $windows_last files: $windows_ratio"
  exit 0
fi

scripts/ensure-packages.sh cmake ninja-build g++ gcc libgtest-dev libbenchmark-dev \
  hyperfine strace time python3
cmake --preset native >/dev/null
cmake --build --preset native --target dumpscan floor make_samples decoder_benchmark >/dev/null

dumpscan=$root/build/native/dumpscan
floor=$root/build/native/bench/floor
python_version=$root/bench/dumpscan.py
make_samples=$root/build/native/tests/make_samples

# Total system calls of one run, counted over all threads.
count_calls() {
  strace -c -f -o "$work/strace.txt" "$@" </dev/null >"$work/strace.out"
  awk '$NF == "total" { print $4 }' "$work/strace.txt"
}

# Peak resident set in KiB, the median of five runs: single runs differ by
# a page or two with the address-space layout.
peak_kib() {
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f %M -o "$work/time.txt" "$@" </dev/null >"$work/time.out"
    cat "$work/time.txt"
  done | sort -n | sed -n 3p
}

# The same report, dump blocks compared as a set: the two programs may list
# the directory in different orders.
same_report() {
  python3 - "$1" "$2" <<'EOF'
import sys
def blocks(path):
    text = open(path, "rb").read().decode("utf-16-le")
    return sorted(text.split("\r\n\r\n"))
sys.exit(0 if blocks(sys.argv[1]) == blocks(sys.argv[2]) else 1)
EOF
}

echo "machine: $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
summary=$work/summary.txt
printf '| dumps | dumpscan min / median | floor min / median | Python min / median | dumpscan/floor median (min) | Python/dumpscan (median) | calls/dump dumpscan | calls/dump floor | peak RSS dumpscan |\n' >"$summary"
printf '|---|---|---|---|---|---|---|---|---|\n' >>"$summary"

# Calls made whatever the directory holds (loading, console setup, the
# prompt), counted in an empty directory.
mkdir "$work/empty"
cd "$work/empty"
startup_dumpscan=$(count_calls "$dumpscan")
startup_floor=$(count_calls "$floor")
cd "$root"
echo "system calls in an empty directory: dumpscan $startup_dumpscan, floor $startup_floor"

# Start-up, where a run on a handful of dumps spends most of its time: the
# released program against the floor and the native (dynamically linked)
# build. Each round times the three programs in turn, in the reverse order
# every other round, so that both sides of a ratio share the machine's
# state; hyperfine starts them directly (no shell), output to a file.
released_tarball=$(ls dist/dumpscan-*-linux-x86_64.tar.gz 2>/dev/null | tail -n 1 || true)
if [ -z "$released_tarball" ]; then
  scripts/release.sh >/dev/null
  released_tarball=$(ls dist/dumpscan-*-linux-x86_64.tar.gz | tail -n 1)
fi
tar -xzf "$released_tarball" -C "$work"
released=$(ls "$work"/dumpscan-*-linux-x86_64/bin/dumpscan)
echo "released program: $released_tarball ($(file -b "$released" | cut -d, -f1-2,4))"
cd "$work/empty"
echo "system calls in an empty directory: released program $(count_calls "$released")"
cd "$root"
startup_summary=$work/startup.txt
printf '| directory | released min / median | floor min / median | native min / median | released / floor, median (min) | native / floor, median (min) |\n' >"$startup_summary"
printf '|---|---|---|---|---|---|\n' >>"$startup_summary"
"$make_samples" --many 10 "$work/dumps-10" >/dev/null
forward=(-n released "$released" -n floor "$floor" -n native "$dumpscan")
backward=(-n native "$dumpscan" -n floor "$floor" -n released "$released")
for dir in empty dumps-10; do
  cd "$work/$dir"
  for round in $(seq "$startup_rounds"); do
    if [ $((round % 2)) -eq 1 ]; then programs=("${forward[@]}"); else programs=("${backward[@]}"); fi
    hyperfine -N --warmup 5 --runs "$startup_runs" --style none --output "$work/out.startup" \
      --export-json "$work/startup-$dir-$round.json" "${programs[@]}" </dev/null >/dev/null
  done
  cd "$root"
  python3 "$root/bench/summarise.py" startup "$dir" "$work"/startup-"$dir"-*.json \
    >>"$startup_summary"
done
rm -rf "$work/dumps-10"
echo
echo "== start-up: $startup_rounds rounds of $startup_runs runs each (load $(cut -d' ' -f1 /proc/loadavg))"
cat "$startup_summary"

declare -A calls_dumpscan calls_floor
ratio=""
for n in "${sizes[@]}"; do
  dir=$work/dumps-$n
  "$make_samples" --many "$n" "$dir"
  cd "$dir"

  "$dumpscan" </dev/null >"$work/out.dumpscan"
  python3 "$python_version" </dev/null >"$work/out.python"
  if ! same_report "$work/out.dumpscan" "$work/out.python"; then
    echo "bench/dumpscan.py and dumpscan disagree on $n dumps" >&2
    exit 1
  fi

  echo
  echo "== $n dumps (load $(cut -d' ' -f1 /proc/loadavg))"
  for round in $(seq "$rounds"); do
    hyperfine --warmup "$warmup" --runs "$runs" --style none \
      --export-json "$work/times-$n-$round.json" \
      -n dumpscan "'$dumpscan' </dev/null >'$work/out.dumpscan'" \
      -n floor "'$floor' </dev/null >'$work/out.floor'" \
      -n python "python3 '$python_version' </dev/null >'$work/out.python'"
  done

  calls_dumpscan[$n]=$(count_calls "$dumpscan")
  calls_floor[$n]=$(count_calls "$floor")
  rss=$(peak_kib "$dumpscan")
  cd "$root"

  row=$(python3 "$root/bench/summarise.py" sizes "$n" "${calls_dumpscan[$n]}" \
        "${calls_floor[$n]}" "$rss" "$(stat -c %s "$work/out.dumpscan")" \
        "$(stat -c %s "$work/out.floor")" "$work"/times-"$n"-*.json)
  ratio=$(head -n1 <<<"$row")
  tail -n1 <<<"$row" >>"$summary"
  awk -v d="${calls_dumpscan[$n]}" -v f="${calls_floor[$n]}" -v n="$n" 'BEGIN {
    printf "system calls: dumpscan %d, floor %d (%.2f and %.2f per dump)\n", d, f, d / n, f / n }'

  echo "peak RSS dumpscan: ${rss} KiB"
  rm -rf "$dir"
done

echo
echo "== decoders (ns per block)"
"$root/build/native/bench/decoder_benchmark" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json \
  --benchmark_out="$work/decoders.json" --benchmark_out_format=json >/dev/null
python3 - "$work/decoders.json" <<'EOF'
import json, sys
rows = json.load(open(sys.argv[1]))["benchmarks"]
medians = {r["run_name"]: r for r in rows if r.get("aggregate_name") == "median"}
for name, r in medians.items():
    print("%-24s %7.1f ns (median of 5)" % (name.removeprefix("BM_"), r["real_time"]))
EOF

if [ "$windows" = 1 ]; then
  echo
  echo "== Windows program under Wine (load $(cut -d' ' -f1 /proc/loadavg))"
  windows_row
fi

echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
cat "$startup_summary"
if [ "$windows" = 1 ]; then
  echo
  cat "$windows_summary"
  echo "windows floor ratio at $windows_last files: $windows_ratio"
fi
[ ${#sizes[@]} -gt 0 ] || exit 0
first=${sizes[0]} last=${sizes[-1]}
if [ "$first" != "$last" ]; then
  python3 - "$first" "$last" "${calls_dumpscan[$first]}" "${calls_dumpscan[$last]}" \
    "${calls_floor[$first]}" "${calls_floor[$last]}" <<'EOF'
import sys
a, b, d1, d2, f1, f2 = (int(x) for x in sys.argv[1:])
print("calls per extra dump (%d to %d): dumpscan %.3f, floor %.3f" % (
    a, b, (d2 - d1) / (b - a), (f2 - f1) / (b - a)))
EOF
fi
echo "system calls in an empty directory: dumpscan $startup_dumpscan, floor $startup_floor"
echo
cat "$summary"
echo
echo "floor ratio at $last files: $ratio"
