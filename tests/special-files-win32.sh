#!/usr/bin/env bash
# Files that are not on a disk but are named like dumps (a character device
# and a FIFO, reachable through Wine's view of the Linux file system) show
# only their name and never stall the scan; a real dump beside them is read.
#   special-files-win32.sh WINE_RUN PREFIX PROGRAM.exe VALID_SAMPLE_DUMP
set -euo pipefail

wine_run=$1 prefix=$2 program=$3 sample=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

mkdir "$work/dumps"
cp "$sample" "$work/dumps/valid.bin"
ln -s /dev/zero "$work/dumps/zero.bin"
mkfifo "$work/dumps/pipe.bin"

cd "$work/dumps"
timeout 60 "$wine_run" "$prefix" cmd /c \
  "$(windows_path "$program") > $(windows_path "$work/out.txt") < NUL"

# One line per block of lines, its lines joined by "|"; blocks come in
# enumeration order, so they are compared sorted, with the prompt last.
report=$(iconv -f UTF-16LE -t UTF-8 <"$work/out.txt" | tr -d '\r' |
         awk 'BEGIN { RS = ""; FS = "\n"; OFS = "|" } { $1 = $1; print }')
expected="pipe.bin
valid.bin|0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E --> 123456 km --> CRC/Parity OK|0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK
zero.bin"
echo "$report"
[ "$(tail -n1 <<<"$report")" = "Press ENTER" ] || { echo "the prompt is not last" >&2; exit 1; }
[ "$(head -n -1 <<<"$report" | sort)" = "$expected" ] || { echo "unexpected report" >&2; exit 1; }
