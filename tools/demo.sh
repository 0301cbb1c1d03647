#!/usr/bin/env bash
# The demonstration: makes a sample file, shows what it holds and how a
# quarter turn would treat it, rotates it by 30 degrees with the verbose
# report, then by 90 degrees without interpolation, and draws pictures of
# all three, alone and side by side, with their legend. Then the same for a
# 4096 x 4096 sample turned by 30 degrees: its picture is drawn smaller, as
# a frame that large is by default. Last, it exports the 30-degree rotation
# as .x3p and .tif files.
# Usage: tools/demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
out=demo-output
rm -rf "$out"; mkdir -p "$out"
"$build/tools/spinmap-sample" -Camera 640x480 -Valid 120,60,400,360 "$out/sample.dat"
echo "== Sample written: $out/sample.dat (640 x 480 camera, circular aperture)"
echo
echo "== spinmap-info -Angle 90 $out/sample.dat"
TZ=${TZ:-UTC} "$build/info/spinmap-info" -Angle 90 "$out/sample.dat"
echo
echo "== spinmap -Angle 30 -Verbose $out/sample.dat $out/rotated-30.dat"
TZ=${TZ:-UTC} "$build/app/spinmap" -Angle 30 -Verbose "$out/sample.dat" "$out/rotated-30.dat"
echo
echo "== spinmap -Angle 90 -NoInterp -Verbose $out/sample.dat $out/rotated-90.dat"
TZ=${TZ:-UTC} "$build/app/spinmap" -Angle 90 -NoInterp -Verbose "$out/sample.dat" "$out/rotated-90.dat"
echo
view=$build/view/spinmap-view
for name in sample rotated-30 rotated-90; do
  "$view" "$out/$name.dat" "$out/$name.png" >/dev/null
done
echo "== spinmap-view $out/sample.dat $out/rotated-30.dat $out/rotated-90.dat $out/compare.png"
"$view" "$out/sample.dat" "$out/rotated-30.dat" "$out/rotated-90.dat" "$out/compare.png"
echo
"$build/tools/spinmap-sample" -Camera 4096x4096 -Valid 200,200,3696,3696 "$out/large.dat"
echo "== Sample written: $out/large.dat (4096 x 4096 camera, circular aperture)"
echo "== spinmap -Angle 30 $out/large.dat $out/large-30.dat"
"$build/app/spinmap" -Angle 30 "$out/large.dat" "$out/large-30.dat"
echo "== spinmap-view $out/large.dat $out/large-30.dat $out/large.png"
"$view" "$out/large.dat" "$out/large-30.dat" "$out/large.png"
echo
echo "== Pictures:"
for name in sample rotated-30 rotated-90 compare large; do echo "$out/$name.png"; done
echo
echo "== spinmap-export: the 30-degree rotation for other software"
for format in x3p tif; do
  "$build/export/spinmap-export" "$out/rotated-30.dat" "$out/rotated-30.$format"
done
echo
echo "== Files in $out/:"
ls -l "$out"
