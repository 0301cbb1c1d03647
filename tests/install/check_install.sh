#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds the consumer program
# against that prefix, once through find_package(Spinmap) and once through
# pkg-config, and runs both on a sample file. Also checks that the prefix
# holds the programs and the manual pages.
# Usage: check_install.sh BUILD_DIR SAMPLE_PROGRAM CXX "PROGRAM..." [LINK_FLAGS]
# CXX is the build's compiler; PROGRAM... the programs (and manual pages) the
# prefix must hold; LINK_FLAGS are added when linking the consumer (the
# sanitizer runtimes of a sanitizer build).
set -euo pipefail
build=$1
sample=$2
cxx=$3
read -r -a programs <<<"$4"
link_flags=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
  [ -f "$prefix/share/man/man1/$program.1.gz" ] || fail "the manual page $program.1.gz is not installed"
done
for file in share/doc/spinmap/copyright share/doc/spinmap/docs/compare.png share/doc/spinmap/docs/large.png \
  include/spinmap/errors/error_codes.def; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
# Only the public headers: the folders' internal ones stay out.
for file in datafile/header_layout.h datafile/byte_order.h transform/kernel_support.h platform/interruption.h platform/system.h app/app.h; do
  [ ! -e "$prefix/include/spinmap/$file" ] || fail "internal header $file is installed"
done

"$sample" -Camera 320x240 "$work/sample.dat"
expected='Camera 320 x 240
Valid points 45243, after a half turn 45243
Run: 45243 valid points in, 45243 out, 0 outside; report given'

cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXE_LINKER_FLAGS="$link_flags" >"$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
# The package found is the one just installed, not one of the system's.
grep -qx "Spinmap_DIR:PATH=$prefix/.*" "$work/consumer/CMakeCache.txt" || fail "find_package took another Spinmap"
cmake --build "$work/consumer" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
output=$("$work/consumer/consumer" "$work/sample.dat") || fail "the CMake-built consumer exited with $?"
[ "$output" = "$expected" ] || fail "the CMake-built consumer printed: $output"

pcdir=$(cd "$prefix" && dirname "$(find . -name spinmap.pc)")
pcdir=${pcdir#./}
flags=$(PKG_CONFIG_LIBDIR="$prefix/$pcdir" pkg-config --cflags --libs spinmap)
# The headers' folder is the prefix's include folder itself (users write
# <spinmap/datafile/datafile.h>), named plainly from the prefix the install
# was given.
[[ " $flags " == *" -I$prefix/include "* && " $flags " == *" -L$prefix/${pcdir%/pkgconfig} "* && "$flags" != *..* ]] ||
  fail "pkg-config gives the flags: $flags"
# shellcheck disable=SC2086 # the flags are words
"$cxx" -std=c++20 "$here/consumer/consumer.cpp" $flags $link_flags -o "$work/consumer-pc"
output=$("$work/consumer-pc" "$work/sample.dat") || fail "the pkg-config-built consumer exited with $?"
[ "$output" = "$expected" ] || fail "the pkg-config-built consumer printed: $output"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree, CMake package and pkg-config file work"
