#!/usr/bin/env bash
# Builds a release of this checkout and writes dist/ afresh, holding exactly:
#   dumpscan-VERSION-windows-x86_64.zip     dumpscan.exe (stripped) and README.txt
#   dumpscan-VERSION-linux-x86_64.tar.gz    static-pie program, manual page and docs
#   dumpscan-VERSION-linux-aarch64.tar.gz   the same for 64-bit Arm
#   dumpscan-VERSION-linux-armhf.tar.gz     the same for 32-bit Arm (static,
#                                           not static-pie: Debian 12 has none)
#   dumpscan_VERSION-1_amd64.deb            the Debian package
#   dumpscan-VERSION-web.html               the web page, one self-contained file
#   BUILDINFO                               what the bytes came from: the commit,
#                                           SOURCE_DATE_EPOCH and the Debian
#                                           versions of the build tools, the
#                                           page's (emscripten's) included
#   SHA256SUMS                              the SHA-256 sums of all the above
# VERSION is project()'s in CMakeLists.txt. Every program is built in a new
# build tree (build/release-*), and every archive is made from the install
# rules. The bytes depend on the commit alone: times come from
# SOURCE_DATE_EPOCH (the commit's time unless the caller sets it), source
# paths are mapped away, archive members are sorted with fixed owners, modes
# and times, and the build runs in an environment made from a list, not
# from the caller's: every tool reads variables of its own (tar TAR_OPTIONS,
# gzip GZIP, zip ZIP and ZIPOPT, dpkg-deb DPKG_DEB_*, CMake CFLAGS, LDFLAGS
# and RCFLAGS, emcc EMCC_* and EM_*, node NODE_OPTIONS), so none of them
# reaches the build. The list: PATH (the system's folders: every tool is a
# Debian package's), HOME (an empty folder, build/release-home), LANG=C.UTF-8,
# TZ=UTC and SOURCE_DATE_EPOCH; the page's preset adds NODE_PATH for emcc's
# node. The caller's CMAKE_BUILD_PARALLEL_LEVEL, a number, is passed to
# cmake --build as its job count.
# Runs on an amd64 Debian 12 machine and installs what it needs; it stops
# before building when a package whose version BUILDINFO gives is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=$(dpkg --print-architecture)

# The Debian packages whose versions decide the bytes, for BUILDINFO: the
# compilers, linkers and libraries of every program, the page's toolchain
# (emscripten runs clang, lld and llvm's tools, binaryen's optimiser, and
# node with acorn for its JavaScript) and the packaging tools. Each must be
# installed: a rebuild needs the versions of them all. The names are Debian
# 12's; on a Debian release with other compiler versions, a name is missing
# even when its newer counterpart is installed.
buildinfo_packages=(
  cmake ninja-build git dpkg dpkg-dev tar gzip zip xz-utils liblzma5 binutils
  gcc-12 g++-12 libstdc++-12-dev libgcc-12-dev libc6-dev
  gcc-12-aarch64-linux-gnu g++-12-aarch64-linux-gnu binutils-aarch64-linux-gnu
  libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross libc6-dev-arm64-cross
  gcc-12-arm-linux-gnueabihf g++-12-arm-linux-gnueabihf binutils-arm-linux-gnueabihf
  libstdc++-12-dev-armhf-cross libgcc-12-dev-armhf-cross libc6-dev-armhf-cross
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-base
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common
  emscripten clang-14 libclang-cpp14 libclang-common-14-dev lld-14 llvm-14 libllvm14
  binaryen nodejs node-acorn
)

# The caller's part: the packages, checked and installed in the caller's own
# environment (apt may need its proxy settings), then this script once more,
# in the release's environment.
if [ "${1-}" != --in-clean-environment ]; then
  [ "$arch" = amd64 ] || { echo "release.sh: builds on amd64 only, not $arch" >&2; exit 1; }
  scripts/ensure-packages.sh cmake ninja-build g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf dpkg-dev zip emscripten nodejs

  # dpkg-query -W lists a package that was removed but left its settings
  # (status config-files) with an empty version: only "installed" counts.
  missing=()
  for package in "${buildinfo_packages[@]}"; do
    dpkg-query -W -f='${db:Status-Status}\n' "$package" 2>/dev/null | grep -qx installed ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -ne 0 ]; then
    {
      echo "release.sh: not installed: ${missing[*]}"
      echo "  BUILDINFO gives the version of every package the release is built with,"
      echo "  so nothing was built. Install them with"
      echo "    scripts/ensure-packages.sh ${missing[*]}"
      echo "  (or: sudo apt-get install ${missing[*]}). A name Debian 12 has and this"
      echo "  system lacks (another compiler version) means the release must be made on"
      echo "  Debian 12 (amd64)."
    } >&2
    exit 1
  fi

  # SOURCE_DATE_EPOCH is a count of seconds: anything else would reach touch
  # and date as a date of another form.
  epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  [[ $epoch =~ ^[0-9]+$ ]] || { echo "release.sh: SOURCE_DATE_EPOCH is not a number: $epoch" >&2; exit 1; }
  jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-}
  [[ $jobs =~ ^[0-9]*$ ]] || { echo "release.sh: CMAKE_BUILD_PARALLEL_LEVEL is not a number: $jobs" >&2; exit 1; }
  home=$root/build/release-home
  rm -rf "$home"
  mkdir -p "$home"
  status=0
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LANG=C.UTF-8 TZ=UTC \
    SOURCE_DATE_EPOCH="$epoch" \
    bash scripts/release.sh --in-clean-environment "$jobs" || status=$?
  rm -rf "$home"
  exit "$status"
fi

git diff --quiet HEAD 2>/dev/null ||
  echo "release.sh: warning: uncommitted changes are built in; the commit alone gives other bytes" >&2
# Files git does not know can be built in as well (a source the build lists,
# a file the install rules take); ignored ones (build/, dist/) cannot.
untracked=$(git status --porcelain --untracked-files=all 2>/dev/null | sed -n 's/^?? //p')
[ -z "$untracked" ] ||
  echo "release.sh: warning: untracked files may be built in; the commit alone may give other bytes:" \
    $untracked >&2
stamp=@$SOURCE_DATE_EPOCH
jobs=${2-}

version=$(sed -n 's/^project(dumpscan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
deb_version=$version-1

presets=(release-linux release-linux-static release-linux-aarch64 release-linux-armhf release-windows
         release-web)
for preset in "${presets[@]}"; do rm -rf "build/$preset"; done
rm -rf dist
mkdir dist
# The archives' trees are laid out in the build folder, not in the caller's
# TMPDIR.
stage=$root/build/release-stage
rm -rf "$stage"
mkdir -p "$stage"
trap 'rm -rf "$stage"' EXIT

for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" ${jobs:+--parallel "$jobs"}
done

# Modes and times as every release has them, whatever the umask, the
# set-group-ID bit of the folder and the clock the build ran under:
# directories and programs 0755, other files 0644. (A numeric mode clears a
# directory's set-group-ID bit only with the extra leading zero.)
normalise() {
  find "$1" -type d -exec chmod 00755 {} +
  find "$1" -type f -perm -u=x -exec chmod 0755 {} +
  find "$1" -type f ! -perm -u=x -exec chmod 0644 {} +
  find "$1" -exec touch -h -d "$stamp" {} +
}

# strip_notes PRESET PROGRAM: drops the compiler's version notes, as Debian's
# own packaging does (cmake --install --strip keeps them).
strip_notes() {
  local strip
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "build/$1/CMakeCache.txt")
  "$strip" --remove-section=.comment --remove-section=.note "$2"
}

# tar_gz DIRECTORY NAME: NAME (a directory in DIRECTORY) as dist/NAME.tar.gz.
tar_gz() {
  tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner -C "$1" -cf - "$2" |
    gzip -9n >"dist/$2.tar.gz"
}

echo "== archives"
# The static programs, with their manual page and docs, in one folder each.
for target in release-linux-static:x86_64 release-linux-aarch64:aarch64 release-linux-armhf:armhf; do
  name=dumpscan-$version-linux-${target#*:}
  cmake --install "build/${target%%:*}" --prefix "$stage/$name" --strip >/dev/null
  strip_notes "${target%%:*}" "$stage/$name/bin/dumpscan"
  normalise "$stage/$name"
  tar_gz "$stage" "$name"
done

# The Windows program and its README, at the top of the zip.
name=dumpscan-$version-windows-x86_64
cmake --install build/release-windows --prefix "$stage/$name" --strip >/dev/null
normalise "$stage/$name"
(cd "$stage/$name" && find . -type f -printf '%P\n' | sort | zip -X -9 -q -@ "$root/dist/$name.zip")

# The Debian package, laid out as dpkg's tools expect: debian/control and
# debian/changelog beside the package tree debian/dumpscan.
source=$stage/deb
package=$source/debian/dumpscan
mkdir -p "$source/debian"
DESTDIR=$package cmake --install build/release-linux --prefix /usr --strip >/dev/null
strip_notes release-linux "$package/usr/bin/dumpscan"
# Manual pages and docs past 4 KiB compressed, as Debian policy asks.
gzip -9n "$package"/usr/share/man/man*/*
find "$package/usr/share/doc" -type f -size +4k ! -name copyright -exec gzip -9n {} +
sed -e "s/@DEB_VERSION@/$deb_version/" -e "s/@VERSION@/$version/" \
    -e "s/@DATE@/$(date -R -d "$stamp")/" packaging/debian/changelog.in >"$source/debian/changelog"
gzip -9nc "$source/debian/changelog" >"$package/usr/share/doc/dumpscan/changelog.Debian.gz"
install -D -m 644 packaging/debian/lintian-overrides "$package/usr/share/lintian/overrides/dumpscan"
cp packaging/debian/control "$source/debian/control"
mkdir "$package/DEBIAN"
(
  cd "$source"
  dpkg-shlibdeps -Tdebian/substvars debian/dumpscan/usr/bin/dumpscan
  dpkg-gencontrol -pdumpscan -Pdebian/dumpscan -Tdebian/substvars -fdebian/files
  cd debian/dumpscan
  find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums
)
normalise "$package"
dpkg-deb --root-owner-group -Zxz --build "$package" "dist/dumpscan_${deb_version}_$arch.deb" >/dev/null

# The web page as it is: one file, nothing to pack.
install -m 644 build/release-web/web/dumpscan.html "dist/dumpscan-$version-web.html"
touch -d "$stamp" "dist/dumpscan-$version-web.html"

# foreign_origins: a line for every package above whose installed version
# comes from no archive of Debian's (a node from another vendor, a package
# built by hand): its maintainer and the archives apt has it from, if any.
# The same version number alone does not find those bytes again.
foreign_origins() {
  local debian package version sources
  # The archives whose release file says o=Debian, as "URL SUITE".
  debian=$(apt-cache policy | awk '/^ *-?[0-9]+ / { source = $2 " " $3 }
                                   /^ +release .*o=Debian,/ { print source }')
  for package in "${buildinfo_packages[@]}"; do
    version=$(dpkg-query -W -f='${Version}' "$package")
    # The sources apt lists under the installed version (marked ***).
    sources=$(apt-cache policy "$package" |
      awk '/^ +\*\*\* / { mine = 1; next } /^     [^ ]/ { mine = 0 }
           mine && $2 != "/var/lib/dpkg/status" { print $2 " " $3 }')
    if [ -n "$sources" ] && grep -qxFf <(printf '%s\n' "$debian") <<<"$sources"; then
      continue
    fi
    echo " $package (= $version): not from Debian's archive; maintainer" \
      "$(dpkg-query -W -f='${Maintainer}' "$package");" \
      "apt has it from: $(if [ -n "$sources" ]; then tr '\n' ' ' <<<"$sources" | sed 's/ $//'; else echo "no archive (installed from a file, or its archive since removed)"; fi)"
  done
}

# What the bytes came from, for anyone who rebuilds them: the same commit,
# SOURCE_DATE_EPOCH and package versions (from the archives named) give the
# same files.
{
  echo "Source: dumpscan $version"
  echo "Commit: $(git rev-parse HEAD)"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
  echo "Build-Architecture: $arch"
  echo "Installed-Build-Depends:"
  dpkg-query -W -f=' ${Package} (= ${Version}) ${Architecture}\n' "${buildinfo_packages[@]}"
  foreign=$(foreign_origins)
  if [ -n "$foreign" ]; then
    echo "Not-From-Debian:"
    echo "$foreign"
  fi
} >dist/BUILDINFO

(cd dist && sha256sum -- dumpscan[-_]* BUILDINFO >SHA256SUMS)
echo "== dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
(cd dist && stat -c '%9s  %n' -- *)
cat dist/SHA256SUMS
