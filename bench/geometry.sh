#!/usr/bin/env bash
# Output geometry and RGB24 conversion per frame beside ffmpeg's swscale
# (one thread) doing the same on the same 720x576 frames.
# Usage: bench/geometry.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build=${1:-build}
frames=${2:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=720x576:rate=25" \
  -frames:v "$frames" -pix_fmt yuv420p -f rawvideo "$work/in.yuv"

# Seconds for ffmpeg to read the frames and run a filter chain, best of 3.
fftime() {
  local best=""
  for i in 1 2 3; do
    local start end t
    start=$(date +%s.%N)
    ffmpeg -hide_banner -loglevel error -threads 1 -filter_threads 1 -f rawvideo \
      -pix_fmt yuv420p -s 720x576 -i "$work/in.yuv" -vf "$1" -f rawvideo -y /dev/null 2>/dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

ours=$("$build/bench/bench_geometry" "$work/in.yuv" "$frames")
echo "$ours"
base=$(fftime null)
compare() {  # name, ffmpeg filter
  local t ms o
  t=$(fftime "$2")
  ms=$(echo "($t - $base) * 1000 / $frames" | bc -l)
  o=$(echo "$ours" | awk -v n="$1" '$1 == n { print $2 }')
  printf '%-28s ours %.3f ms  ffmpeg %.3f ms  ratio ffmpeg/ours %.2f\n' "$1" "$o" "$ms" \
    "$(echo "$ms / $o" | bc -l)"
}
compare bilinear_352x288 "scale=352:288:flags=bilinear"
compare bicubic_352x288 "scale=352:288:flags=bicubic"
compare bilinear_letterbox_720x576 "scale=720:392:flags=bilinear,pad=720:576:0:92"
compare bicubic_letterbox_720x576 "scale=720:392:flags=bicubic,pad=720:576:0:92"
# The frames are written out raw, so the conversion's cost is the difference
# to writing them unconverted.
compare rgb24_720x576 "format=bgr24,vflip"
