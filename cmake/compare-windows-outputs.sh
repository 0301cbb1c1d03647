#!/usr/bin/env bash
# Runs the Linux and the Windows program on the same sample files with exact
# and interpolated rotations and fails unless both write byte-identical
# output files, the same report (apart from the time of the run) and the
# same exit status.
# Usage: compare-windows-outputs.sh LINUX_BUILD WINDOWS_COMMAND...
set -euo pipefail
linux_build=$1
shift
windows=("$@")
sample=$linux_build/tools/spinmap-sample
linux=$linux_build/app/spinmap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The report without the time of the run (the line after "Wrote file") and
# with LF line ends.
report_of() { tr -d '\r' <"$1" | sed '/^Wrote file/{n;d}'; }

same_report() {
  cmp -s <(report_of "$work/linux.txt") <(report_of "$work/windows.txt" | sed 's|windows\.dat|linux.dat|') &&
    cmp -s "$work/linux.err" <(tr -d '\r' <"$work/windows.err")
}
# Both wrote the same bytes, or neither wrote anything.
same_output() {
  if [ -f "$work/linux.dat" ] || [ -f "$work/windows.dat" ]; then
    cmp -s "$work/linux.dat" "$work/windows.dat"
  fi
}

"$sample" -Camera 256x200 -Valid 20,15,200,170 -Dropouts 9 -Fiducials 4 "$work/a.dat"
"$sample" -Camera 640x48 -Valid 300,10,200,30 -Buckets 2 -Format 1 -Fiducials 2 "$work/b.dat"
# c.dat: a.dat with its four group A fiducials far from any pivot, up to
# 1e30 pixels away: (1e30, -1e30), (-3.5e29, 7.25e25), (12345.678, -98765.4)
# and (1e20, 1e10), big-endian floats from byte 430 of the header.
cp "$work/a.dat" "$work/c.dat"
printf '\x71\x49\xf2\xca\xf1\x49\xf2\xca\xf0\x8d\x5d\x27\x6a\x6f\xe1\xe4\x46\x40\xe6\xb6\xc7\xc0\xe6\xb3\x60\xad\x78\xec\x50\x15\x02\xf9' |
  dd of="$work/c.dat" bs=1 seek=430 conv=notrunc status=none

exact=("-Angle 90" "-Angle -90" "-Angle 180" "-Angle 270 -Pivot 100,80" "-Angle 0x5A -Pivot 100.5,80.5"
       "-Angle 90 -Pivot 100,80.5 -NoInterp" "-Angle 360")
interpolated=("-Angle 30" "-Angle 45 -Pivot 100,80.5" "-Angle -33.3" "-Angle 123.456 -Pivot 127.25,99.75" "-Angle 10 -Pivot 400.75,25.5"
              "-Angle 1" "-Angle 359.99" "-Angle 0.001" "-Angle 90 -Pivot 20.25,3" "-Angle 0X1P-3")
# Whole and half turns and huge angles: the fiducials turn by the raw angle in
# radians, the height data by its remainder of 360 degrees.
turns=("-Angle 180" "-Angle 720" "-Angle -354.54" "-Angle 1e20" "-Angle 3.4028234663852886e38"
       "-Angle -3.4028234663852886e38 -Pivot 1e30,-1e30" "-Angle 1e20 -Pivot 100,80")
failures=0
count=0
# Runs both programs on one input with one set of options and compares.
compare_run() {
  local input=$1 options=$2 linux_status=0 windows_status=0
  read -r -a args <<<"$options"
  "$linux" "${args[@]}" -Verbose "$work/$input" "$work/linux.dat" >"$work/linux.txt" 2>"$work/linux.err" || linux_status=$?
  "${windows[@]}" "${args[@]}" -Verbose "$work/$input" "$work/windows.dat" </dev/null >"$work/windows.txt" 2>"$work/windows.err" ||
    windows_status=$?
  count=$((count + 1))
  if [ "$linux_status" != "$windows_status" ] || ! same_report || ! same_output; then
    echo "DIFFERENT: $input $options (exit status $linux_status on Linux, $windows_status on Windows)" >&2
    failures=$((failures + 1))
  fi
  rm -f "$work/linux.dat" "$work/windows.dat"
}

for input in a.dat b.dat c.dat; do
  for options in "${exact[@]}" "${interpolated[@]}" "${turns[@]}"; do
    compare_run "$input" "$options"
  done
done
# Names in Greek, Japanese, with an emoji and in Latin-1 show alike in the
# reports; a missing one gives the same message.
for name in "μέτρηση" "測定データ" "scan-🌀" "Messung-äöüß"; do
  cp "$work/a.dat" "$work/$name.dat"
  compare_run "$name.dat" "-Angle 30"
  compare_run "missing-$name.dat" "-Angle 30"
done
echo "$count runs compared, $failures different"
[ "$failures" -eq 0 ]
