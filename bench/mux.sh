#!/usr/bin/env bash
# MPEG output speed and quality beside ffmpeg, in the same run:
#  - Layer II coding of 60 s against ffmpeg's mp2 encoder and twolame;
#  - the video encoder alone (SVCD settings, 2350 kbit/s, N = 15, M = 3) at
#    720x576 and 480x576, MotionSearch 0 and 2, against `ffmpeg -threads 1
#    -c:v mpeg2video -b:v 2350k -g 15 -bf 2`, with both streams' luma PSNR
#    against the input, on testsrc2 and on mandelbrot (high motion);
#  - the SVCD PAL preset (pictures + sound through the MPEG writer) against
#    `ffmpeg -threads 1 -target pal-svcd` on the same input, with the PSNR of
#    both outputs against the source pictures;
#  - when the zembra binary rips to MPEG: a whole rip of a test DVD title to
#    the SVCD PAL preset beside `ffmpeg -threads 1 -i VTS_01_1.VOB -target
#    pal-svcd`, both outputs' PSNR against ffmpeg's decoding of the title.
# Usage: bench/mux.sh [build-dir] [seconds of video, default 10]
set -euo pipefail
build=${1:-build}
seconds=${2:-10}
bench="$build/bench/bench_mux"
zembra="$build/src/cli/zembra"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

elapsed() { echo "$2 - $1" | bc -l; }
# Luma PSNR of a stream against the reference pictures (same size), picture
# by picture in order whatever the streams' time stamps say.
psnr_y() {
    ffmpeg -nostdin -v info -i "$1" -i "$2" \
        -lavfi "[0:v]setpts=N/(25*TB)[a];[1:v]setpts=N/(25*TB)[b];[a][b]psnr" -f null - 2>&1 |
        grep -o ' y:[0-9.inf]*' | tail -1 | cut -d: -f2
}

ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" -ac 2 "$work/a.wav"
ours=$("$bench" layer2 60 | awk '{print $2}')
t0=$(date +%s.%N)
ffmpeg -v error -threads 1 -i "$work/a.wav" -c:a mp2 -b:a 224k -y "$work/ff.mp2"
t1=$(date +%s.%N)
ff=$(elapsed "$t0" "$t1")
printf 'Layer II 60 s: ours %.3f s, ffmpeg mp2 %.3f s, ratio (ffmpeg time / ours) %.2f\n' "$ours" "$ff" "$(echo "$ff / $ours" | bc -l)"
if command -v twolame >/dev/null; then
  t0=$(date +%s.%N); twolame --quiet -b 224 "$work/a.wav" "$work/tl.mp2"; t1=$(date +%s.%N)
  tl=$(elapsed "$t0" "$t1")
  printf 'Layer II 60 s: twolame %.3f s, ratio (twolame time / ours) %.2f\n' "$tl" "$(echo "$tl / $ours" | bc -l)"
fi

# Speed as CPU seconds (user + system) of each process, the best of three: the
# machine is shared, and wall-clock time measures the neighbours too.
frames=$((seconds * 25))
cpu_seconds() {
  local TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{print $1 + $2}'
}
least() { printf '%s\n' "$@" | sort -g | head -1; }
for source in testsrc2 mandelbrot; do
  for size in 720x576 480x576; do
    in="$work/$source-$size.y4m"
    ffmpeg -v error -f lavfi -i "$source=size=$size:rate=25" -t "$seconds" -pix_fmt yuv420p "$in"
    runs=()
    for _ in 1 2 3; do
      runs+=("$(cpu_seconds ffmpeg -nostdin -v error -threads 1 -i "$in" -c:v mpeg2video \
        -b:v 2350k -g 15 -bf 2 -f mpeg2video -y "$work/ff.m2v")")
    done
    fffps=$(echo "$frames / $(least "${runs[@]}")" | bc -l)
    ffq=$(psnr_y "$work/ff.m2v" "$in")
    for ms in 0 2; do
      runs=()
      for _ in 1 2 3; do
        runs+=("$(cpu_seconds "$bench" video "$in" 2350 "$ms" "$work/ours.m2v")")
      done
      fps=$(echo "$frames / $(least "${runs[@]}")" | bc -l)
      q=$(psnr_y "$work/ours.m2v" "$in")
      kbps=$(echo "$(stat -c %s "$work/ours.m2v") * 8 / $seconds / 1000" | bc -l)
      printf 'video %-10s %s MotionSearch %d: ours %.1f fps %.2f dB %.0f kbit/s, ffmpeg %.1f fps %.2f dB, speed ratio %.2f\n' \
        "$source" "$size" "$ms" "$fps" "$q" "$kbps" "$fffps" "$ffq" "$(echo "$fps / $fffps" | bc -l)"
    done
  done
done

ffmpeg -v error -f lavfi -i "testsrc2=size=480x576:rate=25" -t 20 -pix_fmt yuv420p "$work/v.y4m"
ffmpeg -v error -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=21" -ac 2 "$work/b.wav"
ours=$(echo "500 / $(cpu_seconds "$bench" svcd "$work/v.y4m" "$work/b.wav" "$work/ours.mpg")" | bc -l)
fffps=$(echo "500 / $(cpu_seconds ffmpeg -v error -threads 1 -i "$work/v.y4m" -i "$work/b.wav" \
  -target pal-svcd -s 480x576 -y "$work/ff.mpg")" | bc -l)
printf 'SVCD PAL 500 frames (CPU time): ours %.2f fps, ffmpeg %.2f fps, ratio %.2f\n' "$ours" "$fffps" "$(echo "$ours / $fffps" | bc -l)"
echo "PSNR (luma) against the source: ours $(psnr_y "$work/ours.mpg" "$work/v.y4m"), ffmpeg $(psnr_y "$work/ff.mpg" "$work/v.y4m")"

# A whole rip of a DVD test title, when the binary and the disc tools are there.
if [ -x "$zembra" ] && command -v dvdauthor >/dev/null; then
  disc=$(tools/make-test-disc.sh --out "$work/disc" --pal --mp2 --seconds 20 | tail -1)
  vob="$disc/VIDEO_TS/VTS_01_1.VOB"
  ffmpeg -nostdin -v error -i "$vob" -s 480x576 -pix_fmt yuv420p -y "$work/title.y4m"
  rip() {
    ZEMBRA_PROGRAM_DIR="$work/prog" "$zembra" rip "$disc/VIDEO_TS" \
      --format "SVCD PAL Great Quality" --zoom 3 --output-dir "$work/rip" --name title --overwrite --quiet --yes
  }
  if rip >/dev/null 2>&1; then
    n=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames \
        -of csv=p=0 "$work/rip/title.mpg" | tr -dc 0-9)
    ourfps=$(echo "$n / $(cpu_seconds rip)" | bc -l)
    fffps=$(echo "$n / $(cpu_seconds ffmpeg -nostdin -v error -threads 1 -i "$vob" -target pal-svcd \
      -y "$work/ffrip.mpg")" | bc -l)
    printf 'whole rip to SVCD PAL (%d frames, CPU time): ours %.2f fps, ffmpeg %.2f fps, ratio %.2f\n' \
      "$n" "$ourfps" "$fffps" "$(echo "$ourfps / $fffps" | bc -l)"
    echo "PSNR (luma) against the decoded title: ours $(psnr_y "$work/rip/title.mpg" "$work/title.y4m"), ffmpeg $(psnr_y "$work/ffrip.mpg" "$work/title.y4m")"
  else
    echo "whole rip: zembra rip to MPEG failed; skipped"
  fi
fi
