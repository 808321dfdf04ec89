#!/usr/bin/env bash
# The ways the README tells Windows users to save the report, run as they
# would type them: from the command prompt, and through `cmd /c "…"` as
# PowerShell users must (PowerShell has no `<`, and Windows PowerShell's `>`
# re-encodes a program's output). Each must leave report.txt holding the
# README's report of samples/ as UTF-16LE, and end by itself.
#   report-to-file-win32.sh WINE_RUN PREFIX PROGRAM.exe SAMPLES_DIRECTORY README.md
set -euo pipefail

wine_run=$(realpath "$1") prefix=$(realpath -m "$2") program=$(realpath "$3") samples=$4 readme=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "report-to-file: $*" >&2; exit 1; }

# Dump blocks sorted: the README shows the samples in one directory order,
# Wine lists them in another.
blocks() { awk 'BEGIN { RS = "" } { gsub(/\n/, " | "); print }' | LC_ALL=C sort; }
sed -n '/^## What it prints/,/^## /p' "$readme" | sed -n '/^```$/,/^```$/p' | sed '1d;$d' |
  blocks >"$work/expected"
grep -q '^Press ENTER$' "$work/expected" || fail "no report found in $readme"

# FORM COMMAND: runs COMMAND through cmd in a copy of the samples that holds
# the program too, as the README says to put it.
check_form() {
  local dumps=$work/$1
  mkdir "$dumps"
  cp "$samples"/*.bin "$program" "$dumps/"
  (cd "$dumps" && timeout 60 "$wine_run" "$prefix" cmd /c "$2") ||
    fail "$1: cmd /c \"$2\" did not end by itself (exit $?)"
  [ -f "$dumps/report.txt" ] || fail "$1: no report.txt"
  iconv -f UTF-16LE -t UTF-8 "$dumps/report.txt" | tr -d '\r' | blocks >"$work/$1.txt" ||
    fail "$1: report.txt is not UTF-16LE"
  cmp -s "$work/$1.txt" "$work/expected" || {
    diff "$work/expected" "$work/$1.txt" >&2 || true
    fail "$1: report.txt is not the README's report"
  }
  # Every line of the file ends in CR LF, the prompt's too.
  [ "$(tail -c 4 "$dumps/report.txt" | od -An -tx1 | tr -d ' \n')" = 0d000a00 ] ||
    fail "$1: the last line does not end in CR LF"
  echo "$1: cmd /c \"$2\" gives the README's report"
}

name=$(basename "$program")
check_form command-prompt "$name > report.txt < NUL"
# The same with the program named by its whole path, from the folder of dumps.
check_form full-path "Z:$(printf '%s' "$work/full-path/$name" | tr / '\\') > report.txt < NUL"
