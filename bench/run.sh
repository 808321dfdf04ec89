#!/usr/bin/env bash
# Times dumpscan against the system-call floor (bench/floor.c) and a plain
# Python version (bench/dumpscan.py) on generated directories of dumps, and
# reports run times, ratios, system calls per dump, peak memory and the
# decoders' nanoseconds per block. Takes several minutes; not part of CTest.
#
#   bench/run.sh                 sizes 1000 10000 100000
#   BENCH_SIZES="1000" BENCH_RUNS=5 bench/run.sh
#
# Output goes to a file and input comes from /dev/null in every timed run,
# as in a scripted run of the tool. The last line reads
# "floor ratio at N files: X.XX" for the largest size, the ratio of the
# median times.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

sizes=(${BENCH_SIZES:-1000 10000 100000})
runs=${BENCH_RUNS:-10}
warmup=${BENCH_WARMUP:-3}

scripts/ensure-packages.sh cmake make g++ gcc libgtest-dev libbenchmark-dev \
  hyperfine strace time python3
cmake --preset native >/dev/null
cmake --build --preset native --target dumpscan floor make_samples decoder_benchmark >/dev/null

dumpscan=$root/build/native/dumpscan
floor=$root/build/native/bench/floor
python_version=$root/bench/dumpscan.py
make_samples=$root/build/native/tests/make_samples

work=$(mktemp -d "$root/build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Total system calls of one run, counted over all threads.
count_calls() {
  strace -c -f -o "$work/strace.txt" "$@" </dev/null >"$work/strace.out"
  awk '$NF == "total" { print $4 }' "$work/strace.txt"
}

# Peak resident set in KiB.
peak_kib() {
  /usr/bin/time -f %M -o "$work/time.txt" "$@" </dev/null >"$work/time.out"
  cat "$work/time.txt"
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
printf '| dumps | dumpscan min / median | floor min / median | Python min / median | dumpscan/floor (median) | Python/dumpscan (median) | calls/dump dumpscan | calls/dump floor | peak RSS dumpscan |\n' >"$summary"
printf '|---|---|---|---|---|---|---|---|---|\n' >>"$summary"

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
  echo "== $n dumps"
  hyperfine --warmup "$warmup" --runs "$runs" --style basic \
    --export-json "$work/times-$n.json" \
    -n dumpscan "'$dumpscan' </dev/null >'$work/out.dumpscan'" \
    -n floor "'$floor' </dev/null >'$work/out.floor'" \
    -n python "python3 '$python_version' </dev/null >'$work/out.python'"

  calls_dumpscan[$n]=$(count_calls "$dumpscan")
  calls_floor[$n]=$(count_calls "$floor")
  rss=$(peak_kib "$dumpscan")
  cd "$root"

  row=$(python3 - "$work/times-$n.json" "$n" "${calls_dumpscan[$n]}" "${calls_floor[$n]}" "$rss" \
        "$(stat -c %s "$work/out.dumpscan")" "$(stat -c %s "$work/out.floor")" <<'EOF'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
n, calls_d, calls_f, rss, bytes_d, bytes_f = (int(a) for a in sys.argv[2:])
def ms(name):
    return "%.1f / %.1f ms" % (results[name]["min"] * 1e3, results[name]["median"] * 1e3)
med = {name: r["median"] for name, r in results.items()}
ratio = med["dumpscan"] / med["floor"]
print("%.2f" % ratio)
print("| %d | %s | %s | %s | %.2f | %.1f | %.2f | %.2f | %d KiB |" % (
    n, ms("dumpscan"), ms("floor"), ms("python"), ratio,
    med["python"] / med["dumpscan"], calls_d / n, calls_f / n, rss))
print("output bytes: dumpscan %d, floor %d" % (bytes_d, bytes_f), file=sys.stderr)
EOF
  )
  ratio=$(head -n1 <<<"$row")
  tail -n1 <<<"$row" >>"$summary"
  echo "system calls: dumpscan ${calls_dumpscan[$n]}, floor ${calls_floor[$n]}; peak RSS dumpscan ${rss} KiB"
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

echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
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
echo
cat "$summary"
echo
echo "floor ratio at $last files: $ratio"
