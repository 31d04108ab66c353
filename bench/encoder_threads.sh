#!/usr/bin/env bash
# Speed of the MPEG encoder at one thread and at N threads, side by side:
# `zembra encode` of the same pictures and sound at --threads 1 and
# --threads N in alternating runs, for DVD PAL High Quality (720x576, MPEG-2)
# and SVCD PAL, MotionSearch 2. Prints each run's wall-clock seconds, the
# medians, the ratio (one thread / N threads) and the md5 of every output,
# which must be one sum per format whatever the thread count.
# Usage: bench/encoder_threads.sh [BUILD_DIR] [SECONDS, default 20] [N, default 2] [RUNS, default 5]
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
threads=${3:-2}
runs=${4:-5}
zembra=$build/src/cli/zembra
[ -x "$zembra" ] || { echo "encoder_threads: $zembra not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp -r "$(dirname "$0")/../langs" "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog

ffmpeg -nostdin -v error -f lavfi -i "mandelbrot=size=720x576:rate=25" -t "$seconds" \
    -pix_fmt yuv420p "$work/v.y4m"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
    -ac 2 "$work/a.wav"

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for format in 12 13; do
    : >"$work/t1" && : >"$work/tn" && : >"$work/sums"
    for run in $(seq "$runs"); do
        for t in 1 "$threads"; do
            out=$work/f$format-t$t.mpg
            start=$(date +%s.%N)
            "$zembra" encode "$work/v.y4m" "$work/a.wav" --format "$format" --motion-search 2 \
                --threads "$t" -o "$out" --overwrite --quiet
            end=$(date +%s.%N)
            secs=$(echo "$end - $start" | bc -l)
            if [ "$t" = 1 ]; then echo "$secs" >>"$work/t1"; else echo "$secs" >>"$work/tn"; fi
            printf 'format %s run %d threads %s: %.3f s\n' "$format" "$run" "$t" "$secs"
            md5sum <"$out" | cut -d' ' -f1 >>"$work/sums"
        done
    done
    one=$(median <"$work/t1")
    many=$(median <"$work/tn")
    printf 'format %s (%s s of 720x576 pictures): median %.3f s at 1 thread, %.3f s at %s, ratio %.2f\n' \
        "$format" "$seconds" "$one" "$many" "$threads" "$(echo "$one / $many" | bc -l)"
    echo "format $format md5: $(sort -u "$work/sums" | tr '\n' ' ')"
done
