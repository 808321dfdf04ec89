#!/usr/bin/env bash
# scripts/release.sh stops before building anything, and names the package
# and how to install it, when a package whose version BUILDINFO must give is
# not installed: one that is gone, and one removed with its settings kept
# (dpkg-query lists that one too, with an empty version). dpkg reads a copy
# of this machine's package database with those two changed; the script
# runs from a copy of the scripts, with a cmake that records being started.
#   release-missing-package.sh SOURCE_DIR
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/tree/scripts" "$work/bin" "$work/dpkg/updates"
cp "$source/scripts/release.sh" "$work/tree/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$work/tree/scripts/ensure-packages.sh"
printf '#!/bin/sh\ntouch "%s/cmake-started"\nexit 1\n' "$work" >"$work/bin/cmake"
chmod +x "$work/tree/scripts/ensure-packages.sh" "$work/bin/cmake"

# Status stanzas are separated by blank lines: lld-14's goes, and
# libllvm14's is marked removed with its settings kept.
awk -v RS= -v ORS='\n\n' '
  /^Package: lld-14\n/ { next }
  /^Package: libllvm14\n/ { sub(/\nStatus: [^\n]*/, "\nStatus: deinstall ok config-files") }
  { print }' /var/lib/dpkg/status >"$work/dpkg/status"
cp /var/lib/dpkg/arch "$work/dpkg/" 2>/dev/null || true
if DPKG_ADMINDIR=$work/dpkg dpkg-query -W -f='${db:Status-Status}\n' lld-14 libllvm14 2>/dev/null |
     grep -qx installed; then
  echo "the copied package database still has lld-14 or libllvm14 installed" >&2
  exit 1
fi

status=0
DPKG_ADMINDIR=$work/dpkg PATH="$work/bin:$PATH" SOURCE_DATE_EPOCH=1 \
  "$work/tree/scripts/release.sh" >"$work/out" 2>&1 || status=$?
cat "$work/out"
failures=0
check() {  # DESCRIPTION COMMAND...: counts a failure when COMMAND fails
  local what=$1
  shift
  "$@" || { echo "FAILED: $what" >&2; failures=$((failures + 1)); }
}
check "release.sh fails" [ "$status" -ne 0 ]
check "nothing is built" [ ! -e "$work/cmake-started" ]
check "no dist/ is made" [ ! -e "$work/tree/dist" ]
for package in lld-14 libllvm14; do
  check "$package is named as not installed" grep -q "^release.sh: not installed:.* $package\b" "$work/out"
  check "the way to install $package is given" grep -q "scripts/ensure-packages.sh.* $package\b" "$work/out"
done
[ "$failures" -eq 0 ]
