#!/usr/bin/env bash
# Picture quality of our MPEG presets beside ffmpeg's encoders at the same
# size, bit rate and GOP (N = 15, M = 3): luma PSNR of both streams against
# the pictures that were fed, picture by picture.
#
# Inputs: a DVD test title (made by tools/make-test-disc.sh and decoded by
# ffmpeg), testsrc2 and mandelbrot, each scaled by ffmpeg to the preset's size.
# Ours: `zembra encode IN.y4m --format N` (the preset's settings, MotionSearch
# as given, flat or default non-intra matrix as given, VBV 20 for MPEG-1 and
# 112 for MPEG-2 — the values the VCD/SVCD presets leave behind, which the DVD
# entries keep). ffmpeg: mpeg1video or mpeg2video, `-threads 1 -b:v RATE
# -g 15 -bf 2`, once free and once held to the same VBV buffer
# (`-maxrate RATE -bufsize VBV`), as our rate control is.
#
# Usage: bench/quality.sh [build-dir] [seconds, default 10] [motion 0-3, default 0]
#        QUANTMAT=1 for the flat non-intra matrix (ffmpeg's), 0 for ours.
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
motion=${3:-0}
quantmat=${QUANTMAT:-0}
zembra="$build/src/cli/zembra"
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

psnr_y() {
    ffmpeg -nostdin -v info -i "$1" -i "$2" \
        -lavfi "[0:v]setpts=N/(25*TB)[a];[1:v]setpts=N/(25*TB)[b];[a][b]psnr" -f null - 2>&1 |
        grep -o ' y:[0-9.inf]*' | tail -1 | cut -d: -f2
}

disc="$work/disc"
"$here/tools/make-test-disc.sh" --out "$disc" --seconds "$seconds" --bitrate 8000k >/dev/null
ffmpeg -nostdin -v error -i "$disc/VIDEO_TS/VTS_01_1.VOB" -an -pix_fmt yuv420p "$work/dvd.y4m"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -t "$seconds" -pix_fmt yuv420p "$work/testsrc2.y4m"
ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=720x576:rate=25" -t "$seconds" -pix_fmt yuv420p "$work/mandelbrot.y4m"

# format entry, size, kbit/s, ffmpeg codec
presets=(
    "14 352x288 1150 mpeg1video 20 VCD-PAL"
    "13 480x576 2350 mpeg2video 112 SVCD-PAL"
    "9 720x576 2150 mpeg2video 112 DVD-PAL-Long"
    "10 720x576 4600 mpeg2video 112 DVD-PAL-Standart"
    "12 720x576 9400 mpeg2video 112 DVD-PAL-High"
)
printf '%-18s %-11s %8s %8s %7s %8s %7s  (MotionSearch %s, QuantMat %s)\n' preset input ours \
    ffmpeg diff ff-vbv diff "$motion" "$quantmat"
for preset in "${presets[@]}"; do
    read -r format size kbps codec vbv name <<<"$preset"
    for input in dvd testsrc2 mandelbrot; do
        in="$work/$input-$size.y4m"
        ffmpeg -nostdin -v error -i "$work/$input.y4m" -vf "scale=$size:flags=bicubic" -pix_fmt yuv420p "$in"
        "$zembra" encode "$in" --format "$format" --motion-search "$motion" --quantmat "$quantmat" \
            --vbv "$vbv" -o "$work/ours.mpg" --overwrite --quiet
        ffmpeg -nostdin -v error -threads 1 -i "$in" -c:v "$codec" -b:v "${kbps}k" -g 15 -bf 2 \
            -f "$codec" -y "$work/ff.mpg"
        ffmpeg -nostdin -v error -threads 1 -i "$in" -c:v "$codec" -b:v "${kbps}k" -g 15 -bf 2 \
            -maxrate "${kbps}k" -bufsize "$((vbv * 16384))" -f "$codec" -y "$work/ffvbv.mpg"
        ours=$(psnr_y "$work/ours.mpg" "$in")
        ff=$(psnr_y "$work/ff.mpg" "$in")
        ffvbv=$(psnr_y "$work/ffvbv.mpg" "$in")
        printf '%-18s %-11s %8.2f %8.2f %+7.2f %8.2f %+7.2f\n' "$name" "$input" "$ours" "$ff" \
            "$(echo "$ours - $ff" | bc -l)" "$ffvbv" "$(echo "$ours - $ffvbv" | bc -l)"
        rm -f "$in"
    done
done
