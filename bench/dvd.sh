#!/usr/bin/env bash
# Title reader speed beside ffmpeg's program-stream demuxer (stream copy to
# null) on the same title of a generated disc. Usage: bench/dvd.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tools/make-test-disc.sh --out "$work/disc" --pal --ac3-51 --seconds 60 --bitrate 8000k \
  --split-sectors 20000 >/dev/null
ours=$("$build/bench/bench_dvd" "$work/disc" 0 5)
echo "$ours"
vobs=$(ls "$work"/disc/VIDEO_TS/VTS_01_[1-9].VOB | paste -sd'|')
best=""
for i in 1 2 3; do
  start=$(date +%s.%N)
  ffmpeg -hide_banner -loglevel error -threads 1 -i "concat:$vobs" -map 0:v -map 0:a -c copy -f null - 2>/dev/null
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
oursTime=$(echo "$ours" | sed -n 's/.* in \([0-9.]*\) s .*/\1/p')
printf 'ffmpeg -c copy (demux only): %.4f s\nspeed ratio ours/ffmpeg: %.2f\n' "$best" \
  "$(echo "$best / $oursTime" | bc -l)"
