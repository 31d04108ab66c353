#!/usr/bin/env bash
# Picture quality of our MPEG output beside ffmpeg's, in two tables.
#
# Encoder: every preset's size and bit rate (PAL and NTSC VCD, SVCD, DVD Long
# Play, Standard Play, High Quality), GOP N = 15, M = 3, on three inputs (a
# DVD title made by tools/make-test-disc.sh and decoded by ffmpeg, testsrc2,
# mandelbrot), each scaled by ffmpeg to the preset's size. Rows:
#   msN       `zembra encode IN.y4m --format F --motion-search N --threads 1`
#             (the preset's settings; VBV 20 for MPEG-1, 112 for MPEG-2 - the
#             values the VCD/SVCD presets leave behind, which the DVD entries
#             keep)
#   ff-free   ffmpeg mpeg1video/mpeg2video at its defaults, `-threads 1 -b:v
#             RATE -g 15 -bf 2`
#   ff-vbv    the same held to our VBV buffer (`-maxrate RATE -bufsize VBV`),
#             as our rate control is
#   ff-match  ff-free with -b:v set so that its real rate lands within 2 % of
#             our last row's (ffmpeg's defaults overshoot low rates by 4-10 %:
#             a fair comparison spends the same bits); printed when ff-free
#             is off by more than that
#   ff-best   ff-vbv with its best settings (`-trellis 2 -mbd rd -cmp rd
#             -subcmp rd -dia_size 2 -last_pred 2 -mepre 2`; -mepre is what
#             older ffmpeg called -preme)
# The "dvd" input was made by ffmpeg's mpeg2video (at the disc maker's
# 8000k ceiling): at the high rates ffmpeg re-hits its own quantisation grid
# on it, which favours ffmpeg's rows there; testsrc2 and mandelbrot favour
# no encoder.
# Columns: luma PSNR and SSIM (ffmpeg's psnr and ssim filters) against the
# pictures fed, the video bit rate from the stream's packets, the error lines
# of ffmpeg decoding the stream (0 for a clean stream) and the seconds the
# encode took (single thread).
#
# Whole rip: the SVCD and VCD PAL rips of a DVD title (`zembra rip --format
# 13|14 --zoom 3 --resize 2|13`, at MotionSearch 0, and Resize 13 at 4) and
# ffmpeg's `-target pal-svcd|pal-vcd` of the same
# VOB, each decoded and scaled back to 720x576 by the same ffmpeg bicubic,
# against the title's decoded pictures.
#
# Usage: bench/quality.sh [BUILD_DIR] [SECONDS]
#   BUILD_DIR   default build; SECONDS default 10
#   MOTION="0 3 4"   the motion search levels of our rows (default: 0, 3 and
#                    4 when the encoder offers it)
#   QUANTMAT=1       the flat non-intra matrix (ffmpeg's); 0 (default) ours
#   QUICK=1          a smoke run: 2 seconds, SVCD PAL only, the DVD input only
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
quantmat=${QUANTMAT:-0}
quick=${QUICK:-0}
[ "$quick" = 1 ] && seconds=2
built="$(cd "$build" && pwd)/src/cli/zembra"
[ -x "$built" ] || { echo "quality: $built not built" >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A full run takes most of an hour: a copy of the program keeps a rebuild
# meanwhile from changing (or, while it links, removing) the one measured.
zembra=$work/zembra
cp "$built" "$zembra"
mkdir -p "$work/prog"
cp -r "$here/langs" "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog ZEMBRA_SHUTDOWN_COMMAND=true

if [ -n "${MOTION:-}" ]; then
    motions=$MOTION
elif "$zembra" encode --help 2>&1 | grep -q -- '4 best'; then
    motions="0 3 4"
else
    motions="0 3"
fi

# measure DIST REF [SCALE]: "PSNR SSIM" of DIST's luma against REF's,
# picture by picture from the first; SCALE (WxH) scales DIST first.
measure() {
    local pre=""
    [ -n "${3:-}" ] && pre="scale=${3/x/:}:flags=bicubic,"
    ffmpeg -nostdin -v info -i "$1" -i "$2" -lavfi \
        "[0:v]${pre}format=yuv420p,setpts=N/(25*TB),split[a1][a2];[1:v]format=yuv420p,setpts=N/(25*TB),split[b1][b2];[a1][b1]psnr;[a2][b2]ssim" \
        -f null - 2>&1 | awk '
            / PSNR / { for (i = 1; i <= NF; i++) if ($i ~ /^y:/) { sub("y:", "", $i); p = $i } }
            / SSIM / { for (i = 1; i <= NF; i++) if ($i ~ /^Y:/) { sub("Y:", "", $i); s = $i } }
            END { printf "%s %s\n", p, s }'
}

# kbps FILE FPS: the video stream's bit rate from its packets.
kbps() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" |
        awk -v fps="$2" '{ s += $1; n++ } END { printf "%.0f\n", n ? s * 8 * fps / n / 1000 : 0 }'
}

decode_errors() { ffmpeg -nostdin -v error -i "$1" -f null - 2>&1 | wc -l; }

now() { date +%s.%N; }

# standard SECONDS RATE SIZE: the three inputs at a picture size and rate.
make_inputs() {
    local std=$1 size=$2 rate=$3 disc_opt=$4
    local disc="$work/disc-$std"
    "$here/tools/make-test-disc.sh" --out "$disc" $disc_opt --seconds "$seconds" \
        --bitrate 8000k >/dev/null
    ffmpeg -nostdin -v error -i "$disc/VIDEO_TS/VTS_01_1.VOB" -an -pix_fmt yuv420p \
        "$work/dvd-$std.y4m"
    [ "$quick" = 1 ] && return
    for src in testsrc2 mandelbrot; do
        ffmpeg -nostdin -v error -f lavfi -i "$src=size=$size:rate=$rate" -t "$seconds" \
            -pix_fmt yuv420p "$work/$src-$std.y4m"
    done
}

# preset: format entry, size, kbit/s, ffmpeg codec, VBV (16 kbit), name, standard
presets=(
    "14 352x288 1150 mpeg1video 20 VCD-PAL pal"
    "13 480x576 2350 mpeg2video 112 SVCD-PAL pal"
    "9 720x576 2150 mpeg2video 112 DVD-PAL-Long pal"
    "10 720x576 4600 mpeg2video 112 DVD-PAL-Standart pal"
    "12 720x576 9400 mpeg2video 112 DVD-PAL-High pal"
    "8 352x240 1150 mpeg1video 20 VCD-NTSC ntsc"
    "7 480x480 2350 mpeg2video 112 SVCD-NTSC ntsc"
    "3 720x480 2150 mpeg2video 112 DVD-NTSC-Long ntsc"
    "4 720x480 4600 mpeg2video 112 DVD-NTSC-Standart ntsc"
    "6 720x480 9400 mpeg2video 112 DVD-NTSC-High ntsc"
)
inputs="dvd testsrc2 mandelbrot"
if [ "$quick" = 1 ]; then
    presets=("13 480x576 2350 mpeg2video 112 SVCD-PAL pal")
    inputs=dvd
fi
make_inputs pal 720x576 25 --pal
[ "$quick" = 1 ] || make_inputs ntsc 720x480 30000/1001 --ntsc

best="-trellis 2 -mbd rd -cmp rd -subcmp rd -dia_size 2 -last_pred 2 -mepre 2"
echo "Encoder (QuantMat $quantmat, $seconds s, single thread)"
printf '%-18s %-10s %-8s %8s %7s %6s %4s %7s\n' preset input encoder "PSNR-Y" "SSIM-Y" kbit/s err seconds
for preset in "${presets[@]}"; do
    read -r format size rate codec vbv name std <<<"$preset"
    fps=25
    [ "$std" = ntsc ] && fps=29.97
    for input in $inputs; do
        in="$work/in.y4m"
        ffmpeg -nostdin -v error -i "$work/$input-$std.y4m" -vf "scale=$size:flags=bicubic" \
            -pix_fmt yuv420p -y "$in"
        row() {  # row ENCODER FILE SECONDS
            read -r psnr ssim <<<"$(measure "$2" "$in")"
            printf '%-18s %-10s %-8s %8.2f %7.4f %6s %4s %7.2f\n' "$name" "$input" "$1" "$psnr" \
                "$ssim" "$(kbps "$2" "$fps")" "$(decode_errors "$2")" "$3"
        }
        for m in $motions; do
            t0=$(now)
            "$zembra" encode "$in" --format "$format" --motion-search "$m" --quantmat "$quantmat" \
                --vbv "$vbv" --threads 1 -o "$work/ours.mpg" --overwrite --quiet
            row "ms$m" "$work/ours.mpg" "$(echo "$(now) - $t0" | bc -l)"
        done
        ff() {  # ff ENCODER EXTRA-OPTIONS...
            local label=$1
            shift
            t0=$(now)
            ffmpeg -nostdin -v error -threads 1 -i "$in" -c:v "$codec" -b:v "${rate}k" -g 15 \
                -bf 2 "$@" -f "$codec" -y "$work/ff.mpg"
            row "$label" "$work/ff.mpg" "$(echo "$(now) - $t0" | bc -l)"
        }
        ff ff-free
        # The same bits as ours: scale -b:v by how far the real rate lands
        # from our last row's, a few times at most.
        ours_kbps=$(kbps "$work/ours.mpg" "$fps")
        ff_kbps=$(kbps "$work/ff.mpg" "$fps")
        target=$rate
        for _ in 1 2 3; do
            within=$(echo "$ff_kbps <= $ours_kbps * 1.02 && $ff_kbps >= $ours_kbps * 0.98" | bc -l)
            [ "$within" = 1 ] && break
            target=$(echo "$target * $ours_kbps / $ff_kbps" | bc -l | cut -d. -f1)
            t0=$(now)
            ffmpeg -nostdin -v error -threads 1 -i "$in" -c:v "$codec" -b:v "${target}k" -g 15 \
                -bf 2 -f "$codec" -y "$work/match.mpg"
            t1=$(now)
            ff_kbps=$(kbps "$work/match.mpg" "$fps")
        done
        [ "$target" = "$rate" ] || row ff-match "$work/match.mpg" "$(echo "$t1 - $t0" | bc -l)"
        ff ff-vbv -maxrate "${rate}k" -bufsize "$((vbv * 16384))"
        # shellcheck disable=SC2086
        ff ff-best -maxrate "${rate}k" -bufsize "$((vbv * 16384))" $best
    done
done

echo
echo "Whole rip against the title (scaled back to 720x576 by ffmpeg's bicubic, $seconds s)"
printf '%-10s %-28s %8s %7s\n' rip maker "PSNR-Y" "SSIM-Y"
vob="$work/disc-pal/VIDEO_TS/VTS_01_1.VOB"
title="$work/dvd-pal.y4m"
rips=("13 SVCD-PAL pal-svcd" "14 VCD-PAL pal-vcd")
[ "$quick" = 1 ] && rips=("13 SVCD-PAL pal-svcd")
for r in "${rips[@]}"; do
    read -r format name target <<<"$r"
    # Resize 2 and 13 at the default motion search, 13 at the best level.
    for choice in "2 0" "13 0" "13 4"; do
        read -r resize m <<<"$choice"
        case " $motions " in *" $m "*) ;; *) continue ;; esac
        out="$work/rip"
        rm -rf "$out"
        "$zembra" rip "$work/disc-pal/VIDEO_TS" --format "$format" --zoom 3 --resize "$resize" \
            --motion-search "$m" --output-dir "$out" --name rip --yes --quiet --overwrite \
            </dev/null >"$work/rip.log" 2>&1 || true
        file=$(find "$out" -name '*.mpg' | head -1)
        if [ -z "$file" ]; then
            # Say so, with the rip's own words, rather than measure nothing.
            printf '%-10s %-28s %s\n' "$name" "zembra --resize $resize --ms $m" "no file:"
            sed 's/^/    /' "$work/rip.log"
            continue
        fi
        read -r psnr ssim <<<"$(measure "$file" "$title" 720x576)"
        printf '%-10s %-28s %8.2f %7.4f\n' "$name" "zembra --resize $resize --ms $m" "$psnr" "$ssim"
    done
    ffmpeg -nostdin -v error -i "$vob" -target "$target" -y "$work/target.mpg"
    read -r psnr ssim <<<"$(measure "$work/target.mpg" "$title" 720x576)"
    printf '%-10s %-28s %8.2f %7.4f\n' "$name" "ffmpeg -target $target" "$psnr" "$ssim"
done
