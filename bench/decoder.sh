#!/usr/bin/env bash
# Video decoding speed beside ffmpeg (one thread, video only) on the same
# input: a 720x576 DVD title with B pictures at about 6 Mbit/s (made by
# tools/make-test-disc.sh) through the title reader, a 720x576 program
# stream of the same kind (tools/make-test-streams.sh) with every iDCT
# setting, and the sample disc's title.
# Usage: bench/decoder.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
streams="$build/test-streams"
tools/make-test-streams.sh "$streams" d1.vob
disc=$(tools/make-test-disc.sh --out "$build/test-discs/bench_d1" --bitrate 6000k --seconds 8)
run() {  # SOURCE FFMPEG_INPUT [bench options]
    local src=$1 ffin=$2
    shift 2
    local ours frames oursFps ff
    ours=$("$build/bench/bench_decoder" "$src" "$@")
    echo "$ours"
    frames=$(echo "$ours" | sed -n 's/.*: \([0-9]*\) frames.*/\1/p')
    oursFps=$(echo "$ours" | sed -n 's/.* = \([0-9.]*\) frames\/s/\1/p')
    # CPU seconds (user + system) of a whole ffmpeg run that decodes the input
    # ten times over, so that its start-up weighs little; the best of three.
    ff=$(for i in 1 2 3; do
        { /usr/bin/time -f '%U %S' ffmpeg -hide_banner -loglevel error -threads 1 -stream_loop 9 \
            -an -sn -dn -i "$ffin" -fps_mode passthrough -f null - ; } 2>&1 |
            awk 'END { print $1 + $2 }'
    done | sort -n | head -1)
    ffFps=$(echo "10 * $frames / $ff" | bc -l)
    printf 'ffmpeg -threads 1: 10 x %s frames in %.3f s CPU = %.1f frames/s\n' "$frames" "$ff" "$ffFps"
    printf 'ratio ours/ffmpeg (frames/s): %.2f\n' "$(echo "$oursFps / $ffFps" | bc -l)"
}
echo "== 720x576 disc title 1 (6 Mbit/s, B pictures), iDCT setting 0"
run "$disc/VIDEO_TS" "$disc/VIDEO_TS/VTS_01_1.VOB" --title 1 --idct 0
for idct in 0 1 2 4; do
    echo "== d1.vob, iDCT setting $idct"
    run "$streams/d1.vob" "$streams/d1.vob" --idct "$idct"
done
echo "== sample disc title 1, iDCT setting 0"
run samples/VIDEO_TS samples/VIDEO_TS/VTS_01_1.VOB --title 1 --idct 0
