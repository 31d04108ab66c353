#!/usr/bin/env bash
# Byte-identity check of the video encoder: encodes a matrix of inputs and
# settings and prints one md5 a line. Speed work on the encoder must leave
# every line unchanged.
#
#   bench/encoder_identity.sh [build-dir] > before.txt   # on the old tree
#   ...change, rebuild...
#   bench/encoder_identity.sh [build-dir] > after.txt
#   diff before.txt after.txt                              # must be empty
#
# The build directory needs src/cli/zembra and bench/bench_mux; copying the
# two binaries of the old build into such a layout (or building the old
# commit in a git worktree) keeps the reference. A run takes about two
# minutes on two cores. Rebuilding while it runs spoils the run.
#
# The matrix: formats 14 (VCD, MPEG-1), 13 (SVCD PAL), 12 (DVD PAL) and 7
# (SVCD NTSC), each on testsrc2 and mandelbrot at the preset's size, with
# MotionSearch 0-3, --cpu 0 (SIMD kernels, thinned search) and 3 (plain
# kernels, exhaustive search), --dct 0 and 2, both non-intra matrices; --cpu 0
# again with ZEMBRA_CPU=plain (plain kernels, thinned search); and
# bench_mux video (SVCD settings) at 720x576 and 480x576 with QM=0 and 1.
# Inputs are made with ffmpeg once and kept in $ENCID_DIR (default
# /tmp/zembra-encid). FRAMES (default 34) sets the clip length. THREADS=N
# runs zembra with --threads N and bench_mux with N threads (unset: zembra at
# its default, bench_mux at one thread); the lines must not depend on it.
set -euo pipefail
build=${1:-build}
dir=${ENCID_DIR:-/tmp/zembra-encid}
frames=${FRAMES:-34}
zembra="$build/src/cli/zembra"
bench="$build/bench/bench_mux"
mkdir -p "$dir"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

input() {  # source size rate -> path
    local f="$dir/$1-$2-${3//\//_}-$frames.y4m"
    if [ ! -s "$f" ]; then
        ffmpeg -nostdin -v error -f lavfi -i "$1=size=$2:rate=$3" -frames:v "$frames" \
            -pix_fmt yuv420p -y "$f"
    fi
    echo "$f"
}

sum() { md5sum "$1" | cut -d' ' -f1; }

declare -A sizes=([14]=352x288 [13]=480x576 [12]=720x576 [7]=480x480)
declare -A rates=([14]=25 [13]=25 [12]=25 [7]=30000/1001)
for format in 14 13 12 7; do
    for source in testsrc2 mandelbrot; do
        in=$(input "$source" "${sizes[$format]}" "${rates[$format]}")
        for motion in 0 1 2 3; do
            for cpu in 0 3; do
                for dct in 0 2; do
                    qm=$(((motion + dct) % 2))
                    o="$out/f$format-$source-m$motion-c$cpu-d$dct-q$qm.mpg"
                    "$zembra" encode "$in" --format "$format" -o "$o" --motion-search "$motion" \
                        --cpu "$cpu" --dct "$dct" --quantmat "$qm" --overwrite --quiet \
                        ${THREADS:+--threads "$THREADS"}
                    echo "encode format $format $source motion $motion cpu $cpu dct $dct qm $qm $(sum "$o")"
                done
            done
            o="$out/plain.mpg"
            ZEMBRA_CPU=plain "$zembra" encode "$in" --format "$format" -o "$o" \
                --motion-search "$motion" --cpu 0 --overwrite --quiet ${THREADS:+--threads "$THREADS"}
            echo "encode format $format $source motion $motion cpu 0 ZEMBRA_CPU=plain $(sum "$o")"
        done
    done
done

for source in testsrc2 mandelbrot; do
    for size in 720x576 480x576; do
        in=$(input "$source" "$size" 25)
        for motion in 0 1 2 3; do
            for qm in 0 1; do
                o="$out/bench.m2v"
                QM=$qm "$bench" video "$in" 2350 "$motion" "$o" >/dev/null
                echo "bench_mux video $source $size motion $motion QM=$qm $(sum "$o")"
            done
        done
    done
done
