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
# SOURCE_DATE_EPOCH (the commit's time unless it is set), source paths are
# mapped away, archive members are sorted with fixed owners, modes and
# times, and neither the time zone, the locale, the umask nor the compiler
# settings of the caller's environment (emscripten's included) reach them.
# Runs on an amd64 Debian 12 machine and installs what it needs; it stops
# before building when a package whose version BUILDINFO gives is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

arch=$(dpkg --print-architecture)
[ "$arch" = amd64 ] || { echo "release.sh: builds on amd64 only, not $arch" >&2; exit 1; }
scripts/ensure-packages.sh cmake ninja-build g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf dpkg-dev zip emscripten nodejs

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

# Zip stores local times and sort follows the locale: both are fixed here.
export LC_ALL=C TZ=UTC
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
# CMake takes the compiler and its flags from these when a build tree is
# first configured: a developer's shell must not change the release.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS CMAKE_TOOLCHAIN_FILE
# emcc takes extra flags from EMCC_CFLAGS (-O0 there makes the page's engine
# five times larger), more settings from other EMCC_* variables, and any
# setting of its configuration from EM_<NAME> (the compiler's folder, the
# cache of its libraries): none of them may reach the page.
for variable in $(compgen -e); do
  case $variable in EMCC_* | EM_*) unset "$variable" ;; esac
done
git diff --quiet HEAD 2>/dev/null ||
  echo "release.sh: warning: uncommitted changes are built in; the commit alone gives other bytes" >&2
# Files git does not know can be built in as well (a source the build lists,
# a file the install rules take); ignored ones (build/, dist/) cannot.
untracked=$(git status --porcelain --untracked-files=all 2>/dev/null | sed -n 's/^?? //p')
[ -z "$untracked" ] ||
  echo "release.sh: warning: untracked files may be built in; the commit alone may give other bytes:" \
    $untracked >&2
stamp=@$SOURCE_DATE_EPOCH

version=$(sed -n 's/^project(dumpscan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
deb_version=$version-1

presets=(release-linux release-linux-static release-linux-aarch64 release-linux-armhf release-windows
         release-web)
for preset in "${presets[@]}"; do rm -rf "build/$preset"; done
rm -rf dist
mkdir dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
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

# What the bytes came from, for anyone who rebuilds them: the same commit,
# SOURCE_DATE_EPOCH and Debian package versions give the same files.
{
  echo "Source: dumpscan $version"
  echo "Commit: $(git rev-parse HEAD)"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
  echo "Build-Architecture: $arch"
  echo "Installed-Build-Depends:"
  dpkg-query -W -f=' ${Package} (= ${Version}) ${Architecture}\n' "${buildinfo_packages[@]}"
} >dist/BUILDINFO

(cd dist && sha256sum -- dumpscan[-_]* BUILDINFO >SHA256SUMS)
echo "== dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
(cd dist && stat -c '%9s  %n' -- *)
cat dist/SHA256SUMS
