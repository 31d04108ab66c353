#!/usr/bin/env bash
# MPEG output speed beside ffmpeg, in the same run:
#  - Layer II coding of 60 s against ffmpeg's mp2 encoder and twolame;
#  - the SVCD PAL preset (pictures + sound through the MPEG writer) against
#    `ffmpeg -threads 1 -target pal-svcd` on the same input, with the PSNR of
#    both outputs against the source pictures.
# Usage: bench/mux.sh [build-dir]
set -euo pipefail
build=${1:-build}
bench="$build/bench/bench_mux"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=60" -ac 2 "$work/a.wav"
ours=$("$bench" layer2 60 | awk '{print $2}')
t0=$(date +%s.%N)
ffmpeg -v error -threads 1 -i "$work/a.wav" -c:a mp2 -b:a 224k -y "$work/ff.mp2"
t1=$(date +%s.%N)
ff=$(echo "$t1 - $t0" | bc -l)
printf 'Layer II 60 s: ours %.3f s, ffmpeg mp2 %.3f s, ratio (ffmpeg time / ours) %.2f\n' "$ours" "$ff" "$(echo "$ff / $ours" | bc -l)"
if command -v twolame >/dev/null; then
  t0=$(date +%s.%N); twolame --quiet -b 224 "$work/a.wav" "$work/tl.mp2"; t1=$(date +%s.%N)
  tl=$(echo "$t1 - $t0" | bc -l)
  printf 'Layer II 60 s: twolame %.3f s, ratio (twolame time / ours) %.2f\n' "$tl" "$(echo "$tl / $ours" | bc -l)"
fi

ffmpeg -v error -f lavfi -i "testsrc2=size=480x576:rate=25" -t 20 -pix_fmt yuv420p "$work/v.y4m"
ffmpeg -v error -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=21" -ac 2 "$work/b.wav"
line=$("$bench" svcd "$work/v.y4m" "$work/b.wav" "$work/ours.mpg")
ours=$(echo "$line" | awk '{print $4}')
t0=$(date +%s.%N)
ffmpeg -v error -threads 1 -i "$work/v.y4m" -i "$work/b.wav" -target pal-svcd -s 480x576 -y "$work/ff.mpg"
t1=$(date +%s.%N)
fffps=$(echo "500 / ($t1 - $t0)" | bc -l)
psnr() { ffmpeg -v info -i "$1" -i "$work/v.y4m" -map 0:v -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | tail -1; }
printf 'SVCD PAL 500 frames: ours %.2f fps, ffmpeg %.2f fps, ratio %.2f\n' "$ours" "$fffps" "$(echo "$ours / $fffps" | bc -l)"
echo "PSNR against the source: ours $(psnr "$work/ours.mpg"), ffmpeg $(psnr "$work/ff.mpg")"
