#!/usr/bin/env bash
# Checks the packages of `make package`:
# - the Debian packages spinmap (the programs, their compressed manual pages,
#   README with its picture), libspinmap-dev (the library, headers, CMake
#   and pkg-config files) and python3-spinmap (the Python module and its
#   stub): each holds exactly the files expected, has its compressed
#   changelog and machine-readable copyright file, declares its
#   dependencies, and lintian reports no error and no warning; the module
#   as unpacked reads a sample file;
# - the Windows zip: it holds exactly the programs, their manual pages as
#   HTML, README.txt, the licence and the picture; unpacked into a folder
#   outside the build tree, its programs run there under Wine: the usage
#   text, a sample file, a rotation whose output must be byte for byte the
#   Linux program's, a picture.
# The programs expected are those of LINUX_BUILD_DIR/programs.txt.
# Usage: tools/check-package.sh DIST_DIR LINUX_BUILD_DIR
# WINE and WINESERVER name the Wine programs; WINEPREFIX and the other Wine
# settings come from the environment (make check-package sets them).
set -euo pipefail
export LC_ALL=C
dist=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
mapfile -t programs <"$linux_build/programs.txt"

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

# same_list WHAT EXPECTED ACTUAL: the two sorted lists of paths are equal.
same_list() {
  local missing extra
  missing=$(comm -23 <(printf '%s\n' "$2" | sort) <(printf '%s\n' "$3" | sort))
  extra=$(comm -13 <(printf '%s\n' "$2" | sort) <(printf '%s\n' "$3" | sort))
  [ -z "$missing" ] || fail "$1 lacks: $(echo $missing)"
  [ -z "$extra" ] || fail "$1 holds what it should not: $(echo $extra)"
}

work=$(mktemp -d /tmp/spinmap-package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

# ---- The Debian packages -------------------------------------------------------
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
programs_deb=$(only_file "$dist/spinmap_*_*.deb")
dev_deb=$(only_file "$dist/libspinmap-dev_*_*.deb")
python_deb=$(only_file "$dist/python3-spinmap_*_*.deb")
version=$(dpkg-deb --field "$programs_deb" Version)

program_files=$(
  for p in "${programs[@]}"; do printf '/usr/bin/%s\n/usr/share/man/man1/%s.1.gz\n' "$p" "$p"; done
  printf '/usr/share/doc/spinmap/%s\n' README.md docs/compare.png docs/large.png changelog.gz copyright)
dev_files=$(
  printf '/usr/include/spinmap/%s\n' errors/errors.h errors/error_codes.def matrix/matrix.h \
    platform/platform.h datafile/datafile.h transform/transform.h run/run.h
  printf "/usr/lib/$multiarch/%s\n" libspinmap.a pkgconfig/spinmap.pc cmake/Spinmap/SpinmapConfig.cmake \
    cmake/Spinmap/SpinmapConfigVersion.cmake cmake/Spinmap/SpinmapTargets.cmake \
    cmake/Spinmap/SpinmapTargets-release.cmake
  printf '/usr/share/doc/libspinmap-dev/%s\n' changelog.gz copyright)
python=/usr/bin/python3
python_files=$(
  printf '/usr/lib/python3/dist-packages/spinmap/%s\n' __init__.py __init__.pyi py.typed \
    "_spinmap$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')"
  printf '/usr/share/doc/python3-spinmap/%s\n' changelog.gz copyright)

# check_deb PACKAGE FILE EXPECTED_FILES: name, version, contents and documents.
check_deb() {
  local package=$1 deb=$2 expected=$3 root=$work/$1 page
  echo "== dpkg-deb --info $(basename "$deb")"
  dpkg-deb --info "$deb"
  echo "== dpkg-deb --contents $(basename "$deb")"
  dpkg-deb --contents "$deb"
  [ "$(basename "$deb")" = "${package}_${version}_${arch}.deb" ] ||
    fail "$deb is not named ${package}_${version}_${arch}.deb"
  [ "$(dpkg-deb --field "$deb" Package)" = "$package" ] || fail "$deb is not the package $package"
  same_list "$package" "$expected" "$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')"

  dpkg-deb --extract "$deb" "$root"
  local doc=$root/usr/share/doc/$package
  head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$package: copyright is not in the machine-readable format"
  cmp -s "$doc/copyright" "$here/doc/copyright" || fail "$package: copyright is not doc/copyright"
  gzip -dc "$doc/changelog.gz" | head -n 1 | grep -q "^spinmap ($version) " ||
    fail "$package: changelog.gz does not begin with version $version"
  for page in "$root"/usr/share/man/man1/*.gz; do
    [ -e "$page" ] || continue
    gzip -dc "$page" | groff -man -ww -z 2>&1 | grep . && fail "$package: $(basename "$page") is not clean roff"
  done
  return 0
}

check_deb spinmap "$programs_deb" "$program_files"
check_deb libspinmap-dev "$dev_deb" "$dev_files"
check_deb python3-spinmap "$python_deb" "$python_files"
for picture in compare.png large.png; do
  cmp -s "$work/spinmap/usr/share/doc/spinmap/docs/$picture" "$here/docs/$picture" ||
    fail "the README's picture $picture is not beside it"
done

# The programs need the C library and libpng; the static library needs
# nothing at run time, and neither package needs the other.
depends=$(dpkg-deb --field "$programs_deb" Depends)
case "$depends" in *libc6*libpng*) ;; *) fail "spinmap's Depends does not name libc6 and libpng: $depends" ;; esac
names_package() {  # names_package DEB FIELD PACKAGE: the field names the package
  dpkg-deb --field "$1" "$2" | grep -Eq "(^|[ ,|])$3(\$|[ ,(])"
}
for field in Depends Pre-Depends Recommends; do
  if names_package "$programs_deb" $field libspinmap-dev; then fail "spinmap's $field names libspinmap-dev"; fi
  if names_package "$dev_deb" $field spinmap; then fail "libspinmap-dev's $field names spinmap"; fi
  for other in spinmap libspinmap-dev; do
    if names_package "$python_deb" $field $other; then fail "python3-spinmap's $field names $other"; fi
  done
done
# The module needs its Python version and NumPy.
for needed in python3 python3-numpy; do
  names_package "$python_deb" Depends $needed || fail "python3-spinmap's Depends does not name $needed"
done
"$linux_build/tools/spinmap-sample" -Camera 320x240 "$work/module-sample.dat"
shown=$(PYTHONPATH="$work/python3-spinmap/usr/lib/python3/dist-packages" "$python" -c \
  'import spinmap, sys; m = spinmap.read(sys.argv[1]); print(spinmap.__file__, m.heights.shape)' \
  "$work/module-sample.dat") || fail "the packaged module cannot read a sample"
[ "$shown" = "$work/python3-spinmap/usr/lib/python3/dist-packages/spinmap/__init__.py (240, 320)" ] ||
  fail "the packaged module showed: $shown"

echo "== lintian $(basename "$programs_deb") $(basename "$dev_deb") $(basename "$python_deb")"
lintian --fail-on error,warning "$programs_deb" "$dev_deb" "$python_deb" ||
  fail "lintian reports an error or a warning"

# ---- The Windows zip -----------------------------------------------------------
zip=$(only_file "$dist/spinmap-*-win64.zip")
folder=$(basename "$zip" .zip)
(cd "$work" && cmake -E tar xf "$zip")
echo "== $zip unpacked in $work:"
(cd "$work" && find "$folder" -type f | sort)

zip_files=$(
  for p in "${programs[@]}"; do printf '%s/%s.exe\n%s/%s.html\n' "$folder" "$p" "$folder" "$p"; done
  printf "$folder/%s\n" README.txt LICENSE.txt compare.png large.png)
same_list "the zip" "$zip_files" "$(cd "$work" && find "$folder" -type f)"
for p in "${programs[@]}"; do
  grep -qi "<title>$p</title>" "$work/$folder/$p.html" 2>/dev/null || fail "$p.html is not the manual page of $p"
done
# Notepad users: Windows line ends throughout.
for file in README.txt LICENSE.txt; do
  if grep -q $'[^\r]$' "$work/$folder/$file" 2>/dev/null; then fail "$file has lines without Windows line ends"; fi
done
for picture in compare.png large.png; do
  cmp -s "$work/$folder/$picture" "$here/docs/$picture" || fail "the zip's $picture is not the README's picture"
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
# The exporter's files, byte for byte as the Linux program writes them.
for format in x3p tif csv; do
  run 0 spinmap-export.exe rotated.dat "rotated.$format"
  "$linux_build/export/spinmap-export" rotated.dat "rotated-linux.$format" >/dev/null
  cmp "rotated.$format" "rotated-linux.$format" || fail "spinmap-export.exe and the Linux program wrote different .$format files"
done
cd /

[ "$failures" -eq 0 ] || exit 1
echo "== packages checked: $(basename "$programs_deb"), $(basename "$dev_deb"), $(basename "$python_deb"), $(basename "$zip")"
