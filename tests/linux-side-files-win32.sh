#!/usr/bin/env bash
# Entries that Windows itself would not hold, reached through Wine's view of
# the Linux file system: a character device and a FIFO named like dumps show
# only their name and never stall the scan; names with control characters,
# which no Windows path may hold, show their name without them and nothing
# else; a plain dump beside them is read.
#   linux-side-files-win32.sh WINE_RUN PREFIX PROGRAM.exe VALID_SAMPLE_DUMP
set -euo pipefail
export LC_ALL=C

wine_run=$1 prefix=$2 program=$3 sample=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

mkdir "$work/dumps"
cp "$sample" "$work/dumps/valid.bin"
cp "$sample" "$work/dumps/line"$'\n'"break.bin"
cp "$sample" "$work/dumps/escape"$'\e'"[2J.bin"
ln -s /dev/zero "$work/dumps/zero.bin"
mkfifo "$work/dumps/pipe.bin"

cd "$work/dumps"
timeout 60 "$wine_run" "$prefix" cmd /c \
  "$(windows_path "$program") > $(windows_path "$work/out.txt") < NUL"

# One line per block of lines, its lines joined by "|"; blocks come in
# enumeration order, so they are compared sorted, with the prompt last.
report=$(iconv -f UTF-16LE -t UTF-8 <"$work/out.txt" | tr -d '\r' |
         awk 'BEGIN { RS = ""; FS = "\n"; OFS = "|" } { $1 = $1; print }')
readings="0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E --> 123456 km --> CRC/Parity OK|0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK"
replacement=$'\xEF\xBF\xBD'  # U+FFFD in UTF-8
expected=$(sort <<EOF
escape$replacement[2J.bin
line${replacement}break.bin
pipe.bin
valid.bin|$readings
zero.bin
EOF
)
echo "$report"
[ "$(tail -n1 <<<"$report")" = "Press ENTER" ] || { echo "the prompt is not last" >&2; exit 1; }
[ "$(head -n -1 <<<"$report" | sort)" = "$expected" ] || { echo "unexpected report; expected:" >&2; echo "$expected" >&2; exit 1; }
