#!/usr/bin/env bash
# Checks the C and C++ sources against the project's habits: clang-format
# for layout (.clang-format) and clang-tidy for likely faults and clumsy
# code (.clang-tidy), the POSIX sources through the native build's compile
# commands and the Windows sources through the cross build's. Fails on any
# finding.
#   scripts/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh cmake ninja-build g++ libgtest-dev libbenchmark-dev clang-format \
  clang-tidy clang libfuzzer-14-dev libclang-rt-14-dev g++-mingw-w64-x86-64 \
  binutils-mingw-w64-x86-64 googletest emscripten nodejs

mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')

# The layers: each folder includes only from itself and the folders below
# it (engine/ at the ground, console/ on it, scanner/ on both, web/ on the
# engine alone), whether the include is written with quotes or with angle
# brackets (the compiler finds the project's headers both ways). A bracket
# include of another project's header (<sys/stat.h>, <emscripten/...>) is
# not one of these folders and is not looked at.
echo "== layers"
layers=(engine console scanner web tests fuzz bench)
layer_status=0
while IFS= read -r line; do
  file=${line%%:*}
  included=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]\([^/">]*\)\/.*/\1/p' <<<"${line#*:}")
  case ${file%%/*} in
    engine) allowed="engine" ;;
    console) allowed="console engine" ;;
    scanner) allowed="scanner console engine" ;;
    web) allowed="web engine" ;;
    *) continue ;;
  esac
  [ -n "$included" ] || continue
  if [[ "${line#*:}" =~ \#[[:space:]]*include[[:space:]]*\< ]] && [[ " ${layers[*]} " != *" $included "* ]]; then
    continue
  fi
  if [[ " $allowed " != *" $included "* ]]; then
    echo "$file includes from $included/, which is not below it: $line" >&2
    layer_status=1
  fi
done < <(git grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' -- engine console scanner web)
[ "$layer_status" -eq 0 ] || exit 1
echo "layers: no include runs up"

echo "== clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

# Compile commands of the builds that hold every source: the native one
# (tool, tests, timing programs), the Windows one, the fuzzers' and the web
# page's.
for preset in native windows fuzz web; do cmake --preset "$preset" >/dev/null; done

mapfile -t posix < <(git ls-files '*.cpp' | grep -v '_win32' | grep -v '^fuzz/' | grep -v '^web/')
mapfile -t web < <(git ls-files 'web/*.cpp')
mapfile -t windows < <(git ls-files '*_win32.cpp')
mapfile -t fuzzers < <(git ls-files 'fuzz/*.cpp')

# clang reads the mingw-w64 C++ library and Windows headers, but not GCC's
# own intrinsics headers: it brings its own.
mingw_includes=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
while read -r dir; do
  case $dir in
    */include|*/include-fixed) ;;
    *) mingw_includes+=("--extra-arg=-isystem$dir") ;;
  esac
done < <(x86_64-w64-mingw32-g++-posix -E -x c++ - -v </dev/null 2>&1 |
           sed -n '/#include </,/End of search/p' | grep '^ /')
mingw_includes+=(--extra-arg=-isystem/usr/x86_64-w64-mingw32/include)

# clang-tidy counts the warnings it suppressed in headers outside the
# project on standard error; only findings and errors are worth showing.
quiet() { "$@" 2> >(grep -v ' warnings\? generated\.$' >&2); }

status=0
echo "== clang-tidy: ${#posix[@]} POSIX and shared files"
printf '%s\n' "${posix[@]}" |
  quiet xargs -P "$(nproc)" -n 4 clang-tidy -p build/native --quiet || status=1
echo "== clang-tidy: ${#fuzzers[@]} fuzzer files"
printf '%s\n' "${fuzzers[@]}" |
  quiet xargs -P "$(nproc)" -n 4 clang-tidy -p build/fuzz --quiet || status=1
echo "== clang-tidy: ${#windows[@]} Windows files"
printf '%s\n' "${windows[@]}" |
  quiet xargs -P "$(nproc)" -n 4 clang-tidy -p build/windows --quiet "${mingw_includes[@]}" || status=1
echo "== clang-tidy: ${#web[@]} web files"
# emcc finds its own headers; clang is told where they are.
printf '%s\n' "${web[@]}" |
  quiet xargs -P "$(nproc)" -n 4 clang-tidy -p build/web --quiet \
    --extra-arg=--target=wasm32-unknown-emscripten \
    --extra-arg=--sysroot=/usr/share/emscripten/cache/sysroot --extra-arg=-D__EMSCRIPTEN__ ||
  status=1
[ "$status" -eq 0 ] && echo "lint: no findings"
exit "$status"
