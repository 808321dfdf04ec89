#!/usr/bin/env bash
# Proves that a release of the checked-out commit is sound. Builds it twice
# with scripts/release.sh, from two fresh clones, varying what a second
# build elsewhere would meet: the path, the clock (a year later), the number
# of parallel jobs, the umask and a set-group-ID build folder, the home
# folder, user and host name, the PATH, and variables that each change the
# bytes when they reach their tool (the packers', the compilers', CMake's,
# emscripten's and node's): release.sh builds in an environment of its own.
# (Time zone and locale are not varied: release.sh sets both itself.) It
# requires byte-identical artifacts (identical SHA256SUMS; diffoscope shows
# where they differ when they do). Then checks the first build's dist/: its
# files, sums and modes, BUILDINFO, the hardening of every program, lintian
# on the .deb, the manual page, the Windows README, and that every program
# prints the README's example report on samples/ (the aarch64 and armhf
# ones through qemu, the Windows one under Wine), and that the web page is
# one file that shows the release's version and that report in Chromium,
# Firefox and WebKit.
# Uses nothing of the developer's build trees. Uncommitted changes are not
# part of the check: it builds the commit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/ensure-packages.sh git lintian devscripts pev man-db file unzip qemu-user-static \
  binutils-mingw-w64-x86-64 wine wine64 faketime chromium chromium-driver python3-selenium \
  firefox-esr nodejs webkit2gtk-driver gir1.2-webkit2-4.1 python3-gi xvfb
command -v npm >/dev/null || scripts/ensure-packages.sh npm
commit=$(git rev-parse HEAD)
git diff --quiet HEAD || echo "note: uncommitted changes are left out: this checks commit $commit"

work=$(mktemp -d)
trap 'WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# Firefox's driver comes from npm, pinned by tests/browser/npm's lock file.
mkdir "$work/npm"
cp tests/browser/npm/package.json tests/browser/npm/package-lock.json "$work/npm/"
(cd "$work/npm" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
export DUMPSCAN_NODE_MODULES=$work/npm/node_modules
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# release CLONE UMASK JOBS [WRAPPER...]: a clone of the commit and its
# release, made under that umask with JOBS parallel build jobs, release.sh
# run through WRAPPER when one is given. (release.sh lays out the archives
# in the clone's build folder, so they share the folder's set-group-ID bit.)
release() {
  local clone=$1 mask=$2 jobs=$3 start=$SECONDS
  shift 3
  if ! (umask "$mask" && export CMAKE_BUILD_PARALLEL_LEVEL=$jobs &&
        git clone -q --no-hardlinks "$root" "$clone" && git -C "$clone" checkout -q --detach "$commit" &&
        "$@" "$clone/scripts/release.sh") >"$clone.log" 2>&1; then
    tail -n 40 "$clone.log"
    echo "FAILED: scripts/release.sh in $clone" >&2
    exit 1
  fi
  echo "release in $clone (umask $mask, $jobs jobs${1:+, through $1 ...}): $((SECONDS - start)) s"
}

echo "== two releases of $commit"
first=$work/first/dumpscan
second=$work/second-build-at-another-path/src
mkdir -p "$(dirname "$first")" "$(dirname "$second")"
# The first in a set-group-ID folder (as shared project folders are), whose
# new folders inherit the bit, under a umask that lets the group write.
chmod g+s "$(dirname "$first")"
release "$first" 002 2
# The second a year later (file times true: NO_FAKE_STAT), one job at a
# time, a private umask, another home, user and host name, and an
# environment that release.sh must keep from every tool: each of these
# variables gives other bytes when it reaches its tool (tar's modes, gzip's
# and zip's compression, zip's line ends, the .deb's compression, the
# resource's language, the compilers' optimisation, NDEBUG and build ID,
# CMake's build type and generator, emcc's flags, a setting of its
# configuration that points at no compiler, a module node loads into
# emscripten's JavaScript tools that rewrites what they write), and the
# PATH starts with a folder whose tools fail.
mkdir "$work/home" "$work/path-trap"
for tool in python3 gzip zip tar cmake; do
  printf '#!/bin/sh\necho "the caller'"'"'s PATH reached the build: $0" >&2\nexit 1\n' \
    >"$work/path-trap/$tool"
  chmod +x "$work/path-trap/$tool"
done
cat >"$work/node-options.cjs" <<'EOF_NODE'
const fs = require('fs');
const write = fs.writeFileSync;
fs.writeFileSync = (file, data, ...rest) =>
  write(file, typeof data === 'string' ? data + '\n// from NODE_OPTIONS\n' : data, ...rest);
EOF_NODE
elsewhere=(env NO_FAKE_STAT=1 HOME="$work/home" USER=rebuilder LOGNAME=rebuilder
           PATH="$work/path-trap:$PATH"
           TAR_OPTIONS=--mode=a+w GZIP=--rsyncable ZIPOPT=-l ZIP=-0
           DPKG_DEB_COMPRESSOR_TYPE=gzip DPKG_DEB_COMPRESSOR_LEVEL=0 RCFLAGS='-l 0x0407'
           CC=false CXX=false CFLAGS=-O0 CXXFLAGS=-O0 CPPFLAGS=-UNDEBUG
           LDFLAGS=-Wl,--build-id=none CMAKE_BUILD_TYPE=Debug CMAKE_GENERATOR='Unix Makefiles'
           EMCC_CFLAGS=-O0 EM_LLVM_ROOT="$work/no-llvm" NODE_OPTIONS="--require=$work/node-options.cjs"
           faketime -f +365d)
if unshare --uts true 2>/dev/null; then
  elsewhere=(unshare --uts sh -c 'hostname rebuilder.example && exec "$@"' sh "${elsewhere[@]}")
else
  echo "note: the host name is not varied (unshare --uts needs privileges)"
fi
release "$second" 077 1 "${elsewhere[@]}"
dist=$first/dist
cat "$dist/SHA256SUMS"
if cmp -s "$dist/SHA256SUMS" "$second/dist/SHA256SUMS"; then
  echo "reproducible: both releases have the same bytes"
else
  fail "the two releases differ"
  diff "$dist/SHA256SUMS" "$second/dist/SHA256SUMS" || true
  # The diffoscope without its optional tools (a few MB) reads archives, ELF
  # and PE headers well enough to show where the bytes part.
  scripts/ensure-packages.sh diffoscope-minimal
  for file in "$dist"/dumpscan[-_]*; do
    name=$(basename "$file")
    cmp -s "$file" "$second/dist/$name" && continue
    echo "== diffoscope $name"
    diffoscope --text - --no-progress "$file" "$second/dist/$name" | head -n 200 || true
  done
fi

version=$(sed -n 's/^project(dumpscan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
echo "== dist/ of version $version"
expected="BUILDINFO
SHA256SUMS
dumpscan-$version-linux-aarch64.tar.gz
dumpscan-$version-linux-armhf.tar.gz
dumpscan-$version-linux-x86_64.tar.gz
dumpscan-$version-web.html
dumpscan-$version-windows-x86_64.zip
dumpscan_$version-1_amd64.deb"
[ "$(cd "$dist" && LC_ALL=C ls)" = "$expected" ] || fail "dist/ holds $(ls "$dist" | tr '\n' ' ')"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
[ "$(cut -c 67- "$dist/SHA256SUMS" | LC_ALL=C sort | tr '\n' ' ')" = "$(grep -v '^SHA256SUMS$' <<<"$expected" | tr '\n' ' ')" ] ||
  fail "SHA256SUMS does not list every file of dist/"
stat -c '%9s  %n' "$dist"/*

echo "== BUILDINFO"
cat "$dist/BUILDINFO"
grep -qx "Commit: $commit" "$dist/BUILDINFO" || fail "BUILDINFO does not name commit $commit"
grep -qx "SOURCE_DATE_EPOCH: ${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct "$commit")}" \
  "$dist/BUILDINFO" || fail "BUILDINFO does not give the SOURCE_DATE_EPOCH the release was made with"
for package in cmake ninja-build g++-12 g++-12-aarch64-linux-gnu g++-12-arm-linux-gnueabihf \
               g++-mingw-w64-x86-64-posix binutils dpkg-dev zip \
               emscripten clang-14 lld-14 llvm-14 binaryen node-acorn nodejs; do
  grep -q "^ $package (= " "$dist/BUILDINFO" || fail "BUILDINFO does not give the version of $package"
done
# A node of another vendor's (NodeSource's, say) has Debian's name and a
# version of its own: BUILDINFO must say where it came from.
if ! apt-cache policy nodejs | awk '/^ +\*\*\* / { mine = 1; next } /^     [^ ]/ { mine = 0 }
                                   mine && $2 != "/var/lib/dpkg/status"' | grep -q debian.org; then
  grep -q "^ nodejs (= .*): not from Debian's archive; maintainer " "$dist/BUILDINFO" ||
    fail "BUILDINFO does not say where nodejs (not Debian's) came from"
fi

echo "== modes of the archives' members"
# Folders and programs 0755, everything else 0644, whatever the umask and
# folder of the build: no set-group-ID bit, no group write.
modes() {
  case $1 in
    *.tar.gz) tar -tvzf "$1" | awk '{ print $1, $6 }' ;;
    *.deb) dpkg-deb -c "$1" | awk '{ print $1, $6 }' ;;
    *.zip) zipinfo "$1" | awk 'NF >= 9 && $1 ~ /^[-dl][-rwxsStT]+$/ { print $1, $NF }' ;;
  esac
}
# The page is a single file, not an archive: it has no members.
for file in "$dist"/dumpscan[-_]*.tar.gz "$dist"/dumpscan[-_]*.deb "$dist"/dumpscan[-_]*.zip; do
  odd=$(modes "$file" | grep -Ev '^(drwxr-xr-x|-rwxr-xr-x|-rw-r--r--) ' || true)
  [ -z "$odd" ] || fail "$(basename "$file") has members of other modes: $odd"
  [ -n "$(modes "$file")" ] || fail "$(basename "$file"): no members listed"
done

unpacked=$work/unpacked
mkdir -p "$unpacked/deb" "$unpacked/windows"
for arch in x86_64 aarch64 armhf; do
  tar -xzf "$dist/dumpscan-$version-linux-$arch.tar.gz" -C "$unpacked"
  members=$(tar -tzf "$dist/dumpscan-$version-linux-$arch.tar.gz" | grep -v '/$' | LC_ALL=C sort)
  top=dumpscan-$version-linux-$arch
  [ "$members" = "$top/bin/dumpscan
$top/share/doc/dumpscan/README.md
$top/share/doc/dumpscan/copyright
$top/share/man/man1/dumpscan.1" ] || fail "$top.tar.gz holds: $members"
done
dpkg-deb -x "$dist/dumpscan_$version-1_amd64.deb" "$unpacked/deb"
members=$(cd "$unpacked/deb" && find . -type f | LC_ALL=C sort)
[ "$members" = "./usr/bin/dumpscan
./usr/share/doc/dumpscan/README.md.gz
./usr/share/doc/dumpscan/changelog.Debian.gz
./usr/share/doc/dumpscan/copyright
./usr/share/lintian/overrides/dumpscan
./usr/share/man/man1/dumpscan.1.gz" ] || fail "the .deb holds: $members"
unzip -q "$dist/dumpscan-$version-windows-x86_64.zip" -d "$unpacked/windows"
[ "$(cd "$unpacked/windows" && LC_ALL=C ls)" = "README.txt
dumpscan.exe" ] || fail "the zip holds: $(ls "$unpacked/windows" | tr '\n' ' ')"
# A shipped document may link only to what ships with it: the README's
# pictures and its links into the source tree stay behind.
for readme in "$unpacked"/dumpscan-*/share/doc/dumpscan/README.md \
              "$unpacked/deb/usr/share/doc/dumpscan/README.md.gz"; do
  links=$(zcat -f "$readme" | grep -o '\]([^)]*)' | grep -v '](https\?://' || true)
  [ -z "$links" ] || fail "${readme#"$unpacked/"} links to files it does not ship: $links"
  zcat -f "$readme" | grep -q '^## What it prints' || fail "${readme#"$unpacked/"} is not the user README"
done
static_x86_64=$unpacked/dumpscan-$version-linux-x86_64/bin/dumpscan
static_aarch64=$unpacked/dumpscan-$version-linux-aarch64/bin/dumpscan
static_armhf=$unpacked/dumpscan-$version-linux-armhf/bin/dumpscan
deb_program=$unpacked/deb/usr/bin/dumpscan
exe=$unpacked/windows/dumpscan.exe

echo "== compiler flags of every released program"
# The flags are checked where they are given: a stripped static program
# shows neither its stack protector nor its fortified calls.
for preset in release-linux release-linux-static release-linux-aarch64 release-linux-armhf \
              release-windows; do
  flags=(-fstack-protector-strong)
  case $preset in
    release-windows) ;;
    release-linux-aarch64) flags+=(-fstack-clash-protection -mbranch-protection=standard -D_FORTIFY_SOURCE=3) ;;
    # 32-bit Arm has neither branch nor control-flow protection to ask for.
    release-linux-armhf) flags+=(-fstack-clash-protection -D_FORTIFY_SOURCE=3 -D_FILE_OFFSET_BITS=64) ;;
    *) flags+=(-fstack-clash-protection -fcf-protection -D_FORTIFY_SOURCE=3) ;;
  esac
  # The C++ compiler's calls (the resource compiler's take no such flags).
  calls=$(grep '"command":' "$first/build/$preset/compile_commands.json" | grep -v windres)
  units=$(wc -l <<<"$calls")
  for flag in "${flags[@]}"; do
    with=$(grep -c -- " $flag " <<<"$calls" || true)
    [ "$with" = "$units" ] || fail "$preset: $flag in $with of $units compiler calls"
  done
  echo "$preset: ${flags[*]} checked in $units compiler calls"
done

# field TEXT NAME: the value hardening-check gives for NAME.
field() { sed -n "s/^ $2: //p" <<<"$1"; }

echo "== hardening-check $deb_program (the .deb's)"
report=$(hardening-check "$deb_program" || true)
echo "$report"
for name in "Position Independent Executable" "Stack protected" "Read-only relocations" \
            "Immediate binding"; do
  [ "$(field "$report" "$name")" = yes ] || fail "the .deb's program: $name"
done
# "only unprotected functions" means that every call the fortified headers
# could check was proved in bounds when compiled (the flag is checked above).
case $(field "$report" "Fortify Source functions") in
  yes | "unknown, no protectable libc functions used" | "no, only unprotected functions found!") ;;
  *) fail "the .deb's program: Fortify Source functions" ;;
esac

for program in "$static_x86_64" "$static_aarch64" "$static_armhf"; do
  echo "== file and hardening-check ${program#"$unpacked/"}"
  description=$(file -b "$program")
  echo "$description"
  if [ "$program" = "$static_armhf" ]; then
    # Debian 12's armhf C library has no static-pie start-up code.
    [[ $description == *"executable, ARM"*"statically linked"* ]] || fail "$program is not static"
  else
    [[ $description == *"static-pie linked"* ]] || fail "$program is not static-pie"
  fi
  [[ $description == *", stripped"* ]] || fail "$program is not stripped"
  # On a static-pie program hardening-check sees RELRO and immediate
  # binding right, and misreads the rest. A plain static program has no
  # dynamic section, so nothing is bound late and there is no flag to see.
  report=$(hardening-check "$program" 2>/dev/null || true)
  echo "$report"
  checked=("Read-only relocations" "Immediate binding")
  [ "$program" != "$static_armhf" ] || checked=("Read-only relocations")
  for name in "${checked[@]}"; do
    [ "$(field "$report" "$name")" = yes ] || fail "$program: $name"
  done
done

echo "== pesec $exe"
report=$(pesec "$exe")
echo "$report"
for name in ASLR DEP/NX; do
  grep -Eq "^$name: +yes$" <<<"$report" || fail "dumpscan.exe: $name"
done
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q HIGH_ENTROPY_VA <<<"$headers" || fail "dumpscan.exe: no high-entropy ASLR"
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "dumpscan.exe imports $dlls"
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "dumpscan.exe is not a windowed program"
x86_64-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols' || fail "dumpscan.exe is not stripped"
peres -v "$exe" | grep 'Product Version' || true
# The version strings and the manifest, as the resource section holds them.
resources=$(strings -e l "$exe")
for pair in "FileVersion $version" "ProductVersion $version" "ProductName dumpscan" \
            "OriginalFilename dumpscan.exe"; do
  grep -A1 -x "${pair% *}" <<<"$resources" | grep -qx "${pair#* }" || fail "dumpscan.exe: no $pair"
done
for setting in 'level="asInvoker"' '<longPathAware' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' \
               '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}'; do
  strings "$exe" | grep -qF "$setting" || fail "dumpscan.exe: no $setting in its manifest"
done
echo "imports: $dlls; version resource and manifest present"

echo "== lintian"
# Info and pedantic tags and overrides shown too; errors and warnings fail.
# (lintian counts a shown override as a failure, so it judges no tag here.)
lintian --fail-on none --display-info --pedantic --show-overrides \
  "$dist/dumpscan_$version-1_amd64.deb" >"$work/lintian.txt" 2>&1 || fail "lintian did not run"
grep -v 'root privileges' "$work/lintian.txt" || true
grep -q '^[EW]: ' "$work/lintian.txt" && fail "lintian reports errors or warnings"

echo "== manual page"
for page in "$unpacked/dumpscan-$version-linux-x86_64/share/man/man1/dumpscan.1" \
            "$unpacked/deb/usr/share/man/man1/dumpscan.1.gz"; do
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
man -l "$unpacked/deb/usr/share/man/man1/dumpscan.1.gz" 2>/dev/null | tail -n 1
readme=$unpacked/windows/README.txt
lines=$(wc -l <"$readme")
[ "$(grep -c $'\r$' "$readme")" = "$lines" ] || fail "README.txt has lines without CR LF"
grep -q "certutil -hashfile dumpscan-$version-windows-x86_64.zip SHA256" "$readme" ||
  fail "README.txt does not show how to check the download"
echo "manual page without warnings; README.txt: $lines lines, all CR LF"

echo "== every program on samples/"
# The report the README shows, dump blocks sorted: programs list a
# directory in its own order.
blocks() { awk 'BEGIN { RS = "" } { gsub(/\n/, " | "); print }' | LC_ALL=C sort; }
sed -n '/^## What it prints/,/^## /p' README.md | sed -n '/^```$/,/^```$/p' | sed '1d;$d' |
  blocks >"$work/expected"
mkdir "$work/samples"
cp samples/*.bin "$work/samples/"
check_report() {  # NAME FILE: FILE holds the README's report, as UTF-16LE
  if ! iconv -f UTF-16LE -t UTF-8 "$2" | tr -d '\r' | blocks | cmp -s - "$work/expected"; then
    fail "$1 does not print the README's report on samples/"
    iconv -f UTF-16LE -t UTF-8 "$2" | tr -d '\r' | head -n 20
  elif [ "$(tail -c 26 "$2" | iconv -f UTF-16LE -t UTF-8)" != $'Press ENTER\r' ]; then
    fail "$1 does not end with the prompt"
  else
    echo "$1: the README's report"
  fi
}
cd "$work/samples"
"$deb_program" </dev/null >"$work/deb.out"
check_report "the .deb's program" "$work/deb.out"
"$static_x86_64" </dev/null >"$work/x86_64.out"
check_report "the x86-64 static program" "$work/x86_64.out"
qemu-aarch64-static "$static_aarch64" </dev/null >"$work/aarch64.out"
check_report "the aarch64 static program (qemu)" "$work/aarch64.out"
qemu-arm-static "$static_armhf" </dev/null >"$work/armhf.out"
check_report "the armhf static program (qemu)" "$work/armhf.out"
"$root/scripts/wine-run.sh" "$work/wineprefix" cmd /c \
  "Z:${exe//\//\\} > Z:${work//\//\\}\\windows.out < NUL" </dev/null
check_report "the Windows program (Wine)" "$work/windows.out"
for out in x86_64 aarch64 armhf; do
  cmp -s "$work/deb.out" "$work/$out.out" || fail "the $out program's report differs from the .deb's"
done
cd "$root"

echo "== the web page"
page=$dist/dumpscan-$version-web.html
echo "$(stat -c %s "$page") bytes"
# One file: nothing loaded from elsewhere, and a policy that forbids it.
grep -Eq '<(script|img|iframe)[^>]* src=' "$page" && fail "the page loads a file of its own"
grep -o '<link[^>]*>' "$page" | grep -v 'href="data:' && fail "the page links to a file"
grep -q "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none';[^\"]*connect-src 'none'" \
  "$page" || fail "the page has no policy that forbids connections"
# The version it shows is the release's, and the only one it shows.
shown=$(grep -o '>dumpscan [^<]*<' "$page" | sed 's/^>dumpscan //; s/<$//' | sort -u | tr '\n' ' ' || true)
[ "$shown" = "$version " ] || fail "the page shows the version ${shown:-(none)}, not $version"
# In each browser engine (headless Chromium and Firefox, WebKit on a virtual
# screen), opened as a file, on samples/: the README's report, and no
# request but the page itself. Chromium and Firefox choose the folder;
# WebKit's driver cannot, so there the folder's files are chosen.
for engine in chromium firefox webkit; do
  if /usr/bin/python3 -m tests.browser.browser_support report "$page" "$work/samples" "$engine" \
       >"$work/web-$engine.out" 2>"$work/web-$engine.err"; then
    # A page does not wait: no prompt.
    if blocks <"$work/web-$engine.out" | cmp -s - <(grep -vx 'Press ENTER' "$work/expected"); then
      echo "the web page in $engine: the README's report"
    else
      fail "the web page in $engine does not show the README's report on samples/"
      head -n 20 "$work/web-$engine.out"
    fi
  else
    fail "the web page could not be run in $engine"
    tail -n 20 "$work/web-$engine.err"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "release check: $failures failures" >&2
  exit 1
fi
echo "release check passed"
