#!/usr/bin/env bash
# zembra encode scales input pictures that are not at the format's size: up
# (352x288 to SVCD's 480x576), down in both directions (720x576 to NTSC
# SVCD's 480x480), and 4:4:4 input. Each result must be the input picture,
# so it is held against ffmpeg's own bilinear scale of the same input: a row
# or column taken from the wrong place, or a plane scaled by the wrong ratio,
# costs far more than the coding does.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe
make_workspace
export HOME=$work

# psnr OUT.mpg IN.y4m W H: luma PSNR of the coded pictures against the input
# scaled by ffmpeg to W x H.
psnr() {
  ffmpeg -nostdin -v error -i "$1" -i "$2" -filter_complex \
    "[1:v]scale=$3:$4:flags=bilinear,format=yuv420p[ref];[0:v]format=yuv420p[out];[out][ref]psnr=stats_file=-" \
    -f null - 2>/dev/null | awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^psnr_y:/) { split($i, v, ":"); s += v[2]; n++ } }
                                END { if (n) printf "%.2f", s / n; else print 0 }'
}

check() {  # SOURCE SIZE PIX_FMT FORMAT W H
  local in=$work/in.y4m out=$work/out.mpg
  ffmpeg -nostdin -v error -y -f lavfi -i "$1=size=$2:rate=25" -frames:v 6 -pix_fmt "$3" -strict -1 "$in"
  "$zembra" encode "$in" --format "$4" --bitrate 8000 -o "$out" --quiet --overwrite
  local size
  size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$out" | head -n 1 | cut -d, -f1,2)
  [ "$size" = "$5,$6" ] || fail "$1 $2 $3 coded at $size, not $5x$6"
  local db
  db=$(psnr "$out" "$in" "$5" "$6")
  awk -v d="$db" 'BEGIN { exit !(d >= 30) }' || fail "$1 $2 $3 to $5x$6: luma PSNR $db dB against a bilinear scale"
}

check testsrc2 352x288 yuv420p "svcd pal great quality" 480 576
check mandelbrot 720x576 yuv420p "svcd ntsc great quality" 480 480
check mandelbrot 640x360 yuv444p "svcd pal great quality" 480 576
