#!/usr/bin/env bash
# Whole-rip speed: `zembra rip` of a DVD title to AVI (MPEG-4 by Xvid at
# 352x288 + MP3) beside ffmpeg doing the same conversion on one thread
# (scale to 352x288, libxvid, libmp3lame), as frames per second and the
# ratio ours/ffmpeg. Both run at the title's own 25 fps with the picture
# scaled whole (Zoom "Full"), so they make the same number of frames.
# Wall time is the best of RUNS; CPU time (user + sys) of that run beside it,
# as the machine is shared.
# Usage: bench/bench_rip.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
zembra=$build/src/cli/zembra
[ -x "$zembra" ] || { echo "bench_rip: $zembra not built" >&2; exit 2; }
for tool in ffmpeg ffprobe bc; do
  command -v $tool >/dev/null || { echo "bench_rip: $tool missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp -r langs "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog ZEMBRA_SHUTDOWN_COMMAND=true

codecs=$("$zembra" codecs)
if ! grep -q "  XVID " <<<"$codecs" || ! grep -q "MP3 library: Lame MP3 " <<<"$codecs"; then
  echo "bench_rip: zembra has no Xvid or LAME library here" >&2
  exit 2
fi
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)
if grep -q " libxvid " <<<"$encoders"; then
  ffvideo=(-c:v libxvid)
  ffname="libxvid"
else
  ffvideo=(-c:v mpeg4 -vtag XVID)
  ffname="mpeg4 (this ffmpeg has no libxvid)"
fi

# The 30-second disc of the rip tests, cached in the build tree.
long=$(tools/make-test-disc.sh --out "$build/test-discs/rip-30s" --pal --ac3 --seconds 30 \
  --bitrate 1500k)

# Runs a command RUNS times; prints "wall cpu" of the fastest run.
best_of() {
  local best="" cpu="" me=$BASHPID
  for _ in $(seq "$runs"); do
    local t0 t1 c0 c1 wall used
    c0=$(awk '{print $14 + $15 + $16 + $17}' /proc/$me/stat)
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
    t1=$(date +%s.%N)
    c1=$(awk '{print $14 + $15 + $16 + $17}' /proc/$me/stat)
    wall=$(echo "$t1 - $t0" | bc -l)
    used=$(echo "($c1 - $c0) / $(getconf CLK_TCK)" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then
      best=$wall
      cpu=$used
    fi
  done
  echo "$best $cpu"
}

frames_of() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1"
}

bench_title() {  # name, VIDEO_TS folder
  local name=$1 disc=$2 vobs
  vobs=$(ls "$disc"/VTS_01_*.VOB | paste -sd'|')
  local ours ff nours nff
  ours=$(best_of "$zembra" rip "$disc" --title 0 --format 2 --fps-index 2 --zoom 3 \
    --width 352 --height 288 --video-codec XVID --codec-opt bitrate=900 --avi-audio mp3 \
    --mp3-bitrate 128 --split 0 --output-dir "$work/ours" --name "$name" --overwrite --yes \
    --quiet)
  ff=$(best_of ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i "concat:$vobs" \
    -map 0:v:0 -map 0:a:0 -threads 1 -filter_threads 1 -vf scale=352:288 "${ffvideo[@]}" \
    -b:v 900k -c:a libmp3lame -b:a 128k -ar 44100 -y "$work/$name-ffmpeg.avi")
  nours=$(frames_of "$work/ours/$name.avi")
  nff=$(frames_of "$work/$name-ffmpeg.avi")
  set -- $ours $ff
  local fo ffps fcpu occpu
  fo=$(echo "$nours / $1" | bc -l)
  ffps=$(echo "$nff / $3" | bc -l)
  occpu=$(echo "$nours / $2" | bc -l)
  fcpu=$(echo "$nff / $4" | bc -l)
  printf '%-8s ours %4d frames %6.1f fps (cpu %6.1f)   ffmpeg %4d frames %6.1f fps (cpu %6.1f)   ratio ours/ffmpeg %.2f (cpu %.2f)\n' \
    "$name" "$nours" "$fo" "$occpu" "$nff" "$ffps" "$fcpu" "$(echo "$fo / $ffps" | bc -l)" \
    "$(echo "$occpu / $fcpu" | bc -l)"
}

echo "DVD title -> AVI, MPEG-4 352x288 900 kbit/s + MP3 128 kbit/s; ffmpeg video: $ffname"
bench_title sample samples/VIDEO_TS
bench_title long30 "$long/VIDEO_TS"
