#!/usr/bin/env bash
# Installs the named Debian packages that are missing; does nothing when all
# are present. Needs root (or sudo) only when something must be installed.
set -euo pipefail

missing=()
for package in "$@"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
# Another install running beside this one (two legs, a second checkout) holds
# dpkg's lock for a while: wait for it rather than fail.
lock_wait=(-o DPkg::Lock::Timeout=900)
$sudo apt-get "${lock_wait[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock_wait[@]}" install -y -qq "${missing[@]}" >/dev/null
