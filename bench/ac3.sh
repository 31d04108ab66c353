#!/usr/bin/env bash
# AC-3 5.1 decoding speed beside ffmpeg (one thread) on the same track, and
# the resampler's cost per quality. Usage: bench/ac3.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i anoisesrc=d=60:a=0.2:c=pink:s=1 -f lavfi -i sine=f=300:d=60 \
  -f lavfi -i anoisesrc=d=60:a=0.2:c=white:s=2 -f lavfi -i sine=f=60:d=60 \
  -f lavfi -i anoisesrc=d=60:a=0.2:c=brown:s=3 -f lavfi -i sine=f=1000:d=60 \
  -filter_complex "[0][1][2][3][4][5]amerge=inputs=6,aformat=channel_layouts=5.1" \
  -ar 48000 -c:a ac3 -b:a 448k "$work/in.ac3"
ours=$("$build/bench/bench_ac3" "$work/in.ac3" 3)
echo "$ours"
# CPU seconds (user + system) of the whole ffmpeg run, start-up included.
ff=$( { /usr/bin/time -f '%U %S' ffmpeg -hide_banner -loglevel error -threads 1 -drc_scale 0 \
        -i "$work/in.ac3" -f null - ; } 2>&1 | awk 'END { print $1 + $2 }')
oursTime=$(echo "$ours" | sed -n 's/.* in \([0-9.]*\) s .*/\1/p')
printf 'ffmpeg -threads 1: %.3f s CPU\nspeed ratio ours/ffmpeg: %.2f\n' "$ff" "$(echo "$ff / $oursTime" | bc -l)"
