#!/usr/bin/env bash
# Builds a static library for the MinGW-w64 cross-build from the system's own
# Debian source package and installs it in WINDOWS_BUILD/LIBRARY: libpng
# (for the viewer) against Debian's MinGW-w64 zlib, or libtiff (for the
# exporter) with no codec at all, as the exporter writes uncompressed floats.
# Does nothing when that prefix is already complete.
# The source is fetched with apt-get into the build folder alone: the
# system's apt configuration and lists are not touched. Needs apt-get,
# dpkg-source (dpkg-dev), cmake and the MinGW-w64 compilers.
# Usage: cmake/mingw-static-library.sh libpng|libtiff WINDOWS_BUILD
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
library=$1
build=$(mkdir -p "$2" && cd "$2" && pwd)
zlib=/usr/x86_64-w64-mingw32

# Each library: its source package, a file its complete prefix has, and its
# build options.
case $library in
  libpng)
    source_package=libpng1.6
    marks=(lib/libpng16.a include/png.h)
    options=(-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
             -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
             -DZLIB_INCLUDE_DIR="$zlib/include" -DZLIB_LIBRARY="$zlib/lib/libz.a") ;;
  libtiff)
    source_package=tiff
    marks=(lib/libtiff.a include/tiffio.h)
    options=(-DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
             -Dcxx=OFF -Dzlib=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djpeg12=OFF
             -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF) ;;
  *) echo "mingw-static-library.sh: no recipe for $library" >&2; exit 1 ;;
esac
prefix=$build/$library
[ -f "$prefix/${marks[0]}" ] && [ -f "$prefix/${marks[1]}" ] && exit 0

work=$build/$library-source
rm -rf "$work" "$prefix"
mkdir -p "$work/lists/partial" "$work/parts" "$work/dl"

# Source entries for the same archive as the system's binary entries of the
# running release: each such entry made deb-src, for the release's own suite
# only (its update suites need not carry every source).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "mingw-static-library.sh: cannot tell the Debian release" >&2; exit 1; }
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] || continue
  awk -v release="$codename" '$1 == "deb" && $3 == release { $1 = "deb-src"; print }' "$list"
done >"$work/parts/system.list"
n=0
for sources in /etc/apt/sources.list.d/*.sources; do
  [ -f "$sources" ] || continue
  n=$((n + 1))
  awk -v release="$codename" '
    BEGIN { RS = ""; ORS = "\n\n" }
    {
      lines = split($0, line, "\n"); wanted = 0
      for (i = 1; i <= lines; i++) {
        if (line[i] ~ /^Suites:/) {
          words = split(substr(line[i], 8), suite, /[ \t]+/)
          for (j = 1; j <= words; j++) if (suite[j] == release) wanted = 1
        }
      }
      if (!wanted) next
      text = ""
      for (i = 1; i <= lines; i++) {
        if (line[i] ~ /^Types:/) line[i] = "Types: deb-src"
        else if (line[i] ~ /^Suites:/) line[i] = "Suites: " release
        text = text line[i] "\n"
      }
      print text
    }' "$sources" >"$work/parts/system-$n.sources"
done

apt_options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/parts"
             -o Dir::State::Lists="$work/lists")
apt-get "${apt_options[@]}" update -qq
(cd "$work/dl" && apt-get "${apt_options[@]}" source --download-only "$source_package")
# Unpacked with Debian's own patches applied, as the system's library was
# built. apt-get has checked every file against the signed archive index.
source_dir=$work/source
dpkg-source --no-check -x "$(ls "$work"/dl/"${source_package}"_*.dsc | head -n 1)" "$source_dir" >/dev/null

cmake -S "$source_dir" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "${options[@]}" -DCMAKE_INSTALL_PREFIX="$prefix.partial"
cmake --build "$work/build" -j "${JOBS:-2}"
cmake --install "$work/build"
# The prefix appears only complete, so an interrupted build starts again.
mv "$prefix.partial" "$prefix"
