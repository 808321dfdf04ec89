#!/usr/bin/env bash
# A report redirected to a file reaches the disk before the tool waits at
# "Press ENTER", so a window closed at the prompt, Ctrl+C or a log-off still
# leaves it there. Wine carries out FlushFileBuffers as fsync() in the
# program's own process: the run is traced, and while the tool still waits
# on an input that stays open, the file must hold the whole report and must
# have been synced. Closing the input then ends the run.
#   flush-before-wait-win32.sh WINE_RUN PREFIX PROGRAM.exe VALID_SAMPLE_DUMP
set -euo pipefail
export LC_ALL=C

wine_run=$1 prefix=$(realpath -m "$2") program=$3 sample=$4
if ! strace -qq -o /dev/null true 2>/dev/null; then
  echo "flush-before-wait: processes cannot be traced here; skipped" >&2
  exit 77
fi
work=$(mktemp -d)
tracer=""
cleanup() {
  exec 8>&- 2>/dev/null || true
  [ -z "$tracer" ] || kill "$tracer" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
report() { iconv -f UTF-16LE -t UTF-8 <"$work/out.txt" 2>/dev/null | tr -d '\r'; }
synced() { grep -q "^[0-9]* *f\(data\)\?sync([0-9]*<$work/out.txt>) = 0" "$work/trace.txt"; }

mkdir "$work/dumps"
cp "$sample" "$work/dumps/valid.bin"
# The prefix, its server and its services are started outside the trace,
# which then holds only the program's own processes.
"$wine_run" "$prefix" cmd /c exit
# Input that stays open and never brings a line: the tool waits.
mkfifo "$work/in"
exec 8<>"$work/in"

(
  exec 8>&-  # only this script may hold the input open
  cd "$work/dumps"
  export WINEPREFIX=$prefix WINEDEBUG=-all
  unset DISPLAY WAYLAND_DISPLAY
  exec timeout 120 strace -f -qq -e trace=fsync,fdatasync -y -o "$work/trace.txt" \
    wine cmd /c "$(windows_path "$program") > $(windows_path "$work/out.txt") < $(windows_path "$work/in")"
) &
tracer=$!

expected="valid.bin
0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E --> 123456 km --> CRC/Parity OK
0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK

Press ENTER"
for _ in $(seq 600); do
  [ -f "$work/out.txt" ] && [ "$(report)" = "$expected" ] && synced && break
  kill -0 "$tracer" 2>/dev/null || break
  sleep 0.1
done
echo "report:"; report
echo "trace:"; cat "$work/trace.txt"
kill -0 "$tracer" 2>/dev/null || { echo "the tool did not wait for its input" >&2; exit 1; }
[ "$(report)" = "$expected" ] || { echo "the file does not hold the whole report" >&2; exit 1; }
synced || { echo "the report was not flushed to the disk before the wait" >&2; exit 1; }

exec 8>&-  # the end of the input ends the wait
status=0
wait "$tracer" || status=$?
tracer=""
[ "$status" -eq 0 ] || { echo "the run ended with status $status" >&2; exit 1; }
