#!/usr/bin/env bash
# Makes the seed corpus from the sample generator (every header format, with
# and without intensity, trailers that choose the rotation) and runs the fuzz
# target for the given number of seconds.
# Usage: tests/fuzz/run_fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus"

n=0
seed() {  # seed TRAILER_HEX SAMPLE_OPTIONS...
  local trailer=$1
  shift
  n=$((n + 1))
  "$build/tools/spinmap-sample" "$@" "$seeds/seed-$n.dat" >/dev/null
  if [ -n "$trailer" ]; then printf "$trailer" >>"$seeds/seed-$n.dat"; fi
}
for format in 1 2 3; do
  seed "" -Format "$format" -Camera 16x12
  seed "" -Format "$format" -Camera 12x10 -Buckets 2 -Surface coords
  seed "" -Format "$format" -Camera 20x8 -Buckets 0 -Aperture rect -Dropouts 0
  # 30 degrees about (5, 4), interpolating.
  seed '\x01\x2c\x00\x0a\x00\x08\x01\x00' -Format "$format" -Camera 14x10 -Buckets 1
  # 90 degrees about the valid centre, moving values.
  seed '\x03\x84\x00\x00\x00\x00\x06\x00' -Format "$format" -Camera 10x10 -Buckets 1 -Surface plane
  # -45 degrees about (0.5, 2.5), automatic.
  seed '\xfe\x3e\x00\x01\x00\x05\x00\x00' -Format "$format" -Camera 9x7 -Window 1,1,6,5
done

"$build/tests/fuzz/fuzz_datafile" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$seeds"
