#!/usr/bin/env bash
# Checks the packages of `make package`:
# - the Debian package: prints its information and contents, and fails unless
#   it holds the programs, the library, the headers, the CMake files, the
#   pkg-config file, the manual pages and the copyright file, and declares its
#   dependencies;
# - the Windows zip: unpacks it into a folder outside the build tree and runs
#   its programs there under Wine: the usage text, a sample file, a rotation
#   whose output must be byte for byte the Linux program's.
# Usage: tools/check-package.sh DIST_DIR LINUX_BUILD_DIR
# WINE and WINESERVER name the Wine programs; WINEPREFIX and the other Wine
# settings come from the environment (make check-package sets them).
set -euo pipefail
dist=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

only_file() {  # only_file PATTERN: the one file the pattern matches
  local matches=()
  shopt -s nullglob
  matches=($1)
  shopt -u nullglob
  if [ ${#matches[@]} -ne 1 ]; then
    echo "expected one file $1, found ${#matches[@]}: run make package" >&2
    exit 1
  fi
  printf '%s\n' "${matches[0]}"
}

# ---- The Debian package ------------------------------------------------------
deb=$(only_file "$dist/spinmap_*_*.deb")
echo "== dpkg-deb --info $deb"
dpkg-deb --info "$deb"
echo "== dpkg-deb --contents $deb"
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
dpkg-deb --contents "$deb"

arch=$(dpkg --print-architecture)
version=$(dpkg-deb --field "$deb" Version)
[ "$(basename "$deb")" = "spinmap_${version}_${arch}.deb" ] || fail "the package name is not spinmap_${version}_${arch}.deb"
expected=(./usr/bin/spinmap ./usr/bin/spinmap-sample
          "./usr/lib/*/libspinmap.a" "./usr/lib/*/pkgconfig/spinmap.pc"
          "./usr/lib/*/cmake/Spinmap/SpinmapConfig.cmake" "./usr/lib/*/cmake/Spinmap/SpinmapConfigVersion.cmake"
          "./usr/lib/*/cmake/Spinmap/SpinmapTargets.cmake"
          ./usr/include/spinmap/errors/errors.h ./usr/include/spinmap/errors/error_codes.def
          ./usr/include/spinmap/matrix/matrix.h ./usr/include/spinmap/platform/platform.h
          ./usr/include/spinmap/datafile/datafile.h ./usr/include/spinmap/transform/transform.h
          ./usr/share/man/man1/spinmap.1 ./usr/share/man/man1/spinmap-sample.1
          ./usr/share/doc/spinmap/copyright
          ./usr/bin/spinmap-view ./usr/share/man/man1/spinmap-view.1
          ./usr/bin/spinmap-info ./usr/share/man/man1/spinmap-info.1)
has_entry() {  # has_entry PATTERN: some path of the package matches it
  local entry
  while read -r entry; do
    # shellcheck disable=SC2254 # the argument is a pattern
    case "$entry" in $1) return 0 ;; esac
  done <<<"$contents"
  return 1
}
for path in "${expected[@]}"; do
  has_entry "$path" || fail "the package lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
case "$depends" in *libc6*) ;; *) fail "Depends does not name libc6: $depends" ;; esac
case "$depends" in *libpng*) ;; *) fail "Depends does not name libpng: $depends" ;; esac

# ---- The Windows zip -----------------------------------------------------------
zip=$(only_file "$dist/spinmap-*-win64.zip")
folder=$(basename "$zip" .zip)
work=$(mktemp -d /tmp/spinmap-zip-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
echo "== $zip unpacked in $work:"
(cd "$work" && find . -type f | sort)

programs=(spinmap.exe spinmap-sample.exe spinmap-view.exe spinmap-info.exe)
for file in "${programs[@]}" README.md LICENSE.txt; do
  [ -f "$work/$folder/$file" ] || fail "the zip lacks $folder/$file"
done
[ "$failures" -eq 0 ] || exit 1

# A new Wine prefix is set up completely before the first program runs.
if [ -n "${WINEPREFIX:-}" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot.exe -i </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w
fi

cd "$work/$folder"
run() {  # run EXPECTED_STATUS PROGRAM ARGS...: runs under Wine, output in run.out
  local expected=$1 status=0
  shift
  "$wine" "$@" </dev/null >run.out 2>&1 || status=$?
  tr -d '\r' <run.out >run.txt
  echo "== wine $* (exit status $status)"
  head -n 3 run.txt
  [ "$status" -eq "$expected" ] || fail "wine $* exited with $status, not $expected"
}
run 1 spinmap.exe
[ "$(head -n 1 run.txt)" = "Spinmap" ] || fail "spinmap.exe printed no usage text"
run 0 spinmap-sample.exe -Camera 320x240 -Valid 40,20,240,200 sample.dat
run 0 spinmap.exe -Angle 30 -Pivot 150.25,110.5 sample.dat rotated.dat
# The same rotation by the Linux program, on the same sample: the same bytes.
"$linux_build/app/spinmap" -Angle 30 -Pivot 150.25,110.5 sample.dat rotated-linux.dat
cmp rotated.dat rotated-linux.dat || fail "spinmap.exe and the Linux program wrote different files"
run 0 spinmap-view.exe sample.dat rotated.dat picture.png
[ "$(head -c 8 picture.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "spinmap-view.exe wrote no PNG"
# The inspector's statistics, as the Linux program gives them.
run 0 spinmap-info.exe -Angle 90 rotated.dat
"$linux_build/info/spinmap-info" -Angle 90 rotated.dat >info-linux.txt
diff <(grep -v '^TimeStamp' run.txt) <(grep -v '^TimeStamp' info-linux.txt) ||
  fail "spinmap-info.exe and the Linux program report differently"
cd /

[ "$failures" -eq 0 ] || exit 1
echo "== packages checked: $(basename "$deb"), $(basename "$zip")"
