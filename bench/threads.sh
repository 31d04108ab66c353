#!/usr/bin/env bash
# Rips on every core: ours at --threads 1 and at the default (one thread per
# core) beside ffmpeg at -threads 1 and at its defaults, on one DVD title,
# for (a) AVI MPEG-4 (Xvid) 352x288 + MP3, (b) SVCD PAL, (c) DVD PAL High
# Quality (720x576 MPEG-2, MotionSearch 2) and (d) decoding alone. The four
# commands of a case run in turn, RUNS rounds, so a drift of the shared
# machine's speed falls on all of them; each figure is the median of its
# runs: wall-clock frames per second, peak resident memory (ours), the
# ratios, and the CPU seconds (user + sys) of each command, the steadier
# figure when other work shares the machine. Then the md5 sums of the MPEG
# outputs at 1, 2 and 4 threads, which must be the same. Every rip of ours
# zooms to the full frame (--zoom 3), the picture ffmpeg's commands make; the
# default zoom would letterbox a 4:3 title into bands, which is less work and
# no fair match.
# Usage: bench/threads.sh BUILD_DIR DISC [RUNS]
#   DISC  a folder holding VIDEO_TS, e.g. a 60-second 720x576 title from
#         tools/make-test-disc.sh --out DIR --seconds 60 --bitrate 6000k
#   RUNS  rounds (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:?usage: bench/threads.sh BUILD_DIR DISC [RUNS]}" && pwd)
disc=$(cd "${2:?usage: bench/threads.sh BUILD_DIR DISC [RUNS]}" && pwd)
runs=${3:-3}
zembra=$build/src/cli/zembra
[ -x "$zembra" ] || { echo "threads: $zembra not built" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "threads: /usr/bin/time missing" >&2; exit 2; }
for tool in ffmpeg ffprobe bc; do
  command -v $tool >/dev/null || { echo "threads: $tool missing" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/out"
cp -r langs "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog ZEMBRA_SHUTDOWN_COMMAND=true
vobs=$(ls "$disc"/VIDEO_TS/VTS_01_*.VOB | paste -sd'|')
if grep -q " libxvid " <<<"$(ffmpeg -hide_banner -encoders 2>/dev/null)"; then
  ffxvid=(-c:v libxvid)
else
  ffxvid=(-c:v mpeg4 -vtag XVID)
fi

# timed LABEL MAKER ARGS...: one run of the command MAKER ARGS puts in $cmd;
# appends "wall_seconds peak_kb cpu_seconds" to $work/LABEL.
timed() {
  local label=$1
  shift
  "$@"
  /usr/bin/time -f '%e %M %U %S' -o "$work/time" "${cmd[@]}" >/dev/null 2>"$work/err" ||
    { echo "threads: $label failed: $(cat "$work/err")" >&2; exit 1; }
  awk '{print $1, $2, $3 + $4}' "$work/time" >>"$work/$label"
}
# run MAKER ARGS...: the command once, untimed.
run() {
  "$@"
  "${cmd[@]}" >/dev/null 2>&1
}
median() {  # column of $work/LABEL
  awk -v c="$2" '{print $c}' "$work/$1" | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
frames_of() {
  ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$1" | head -1
}

ours_a() {
  cmd=("$zembra" rip "$disc/VIDEO_TS" --format 2 --fps-index 2 --zoom 3 --width 352 --height 288
    --video-codec XVID --codec-opt bitrate=900 --avi-audio mp3 --mp3-bitrate 128 --split 0
    --output-dir "$work/out" --name a --overwrite --yes --quiet "$@")
}
ours_b() {
  cmd=("$zembra" rip "$disc/VIDEO_TS" --format 13 --zoom 3 --split 0 --output-dir "$work/out"
    --name b --overwrite --yes --quiet "$@")
}
ours_c() {
  cmd=("$zembra" rip "$disc/VIDEO_TS" --format 12 --motion-search 2 --zoom 3
    --split 0 --output-dir "$work/out" --name c --overwrite --yes --quiet "$@")
}
ours_d() { cmd=("$zembra" decode "$disc/VIDEO_TS/VTS_01_1.VOB" -o /dev/null "$@"); }
# ff_X [1]: ffmpeg at its defaults, or with 1 at one thread for decoding,
# filtering and encoding.
one_thread() { [ "${1:-}" = 1 ] && echo "-threads 1" || true; }
ff_a() {
  local t
  t=$(one_thread "$@")
  # shellcheck disable=SC2086
  cmd=(ffmpeg -nostdin -v error ${t:+-filter_threads 1} $t -i "concat:$vobs" -map 0:v:0 -map 0:a:0
    -vf scale=352:288 "${ffxvid[@]}" -b:v 900k -c:a libmp3lame -b:a 128k -ar 44100 $t
    -y "$work/ff-a.avi")
}
ff_b() {
  local t
  t=$(one_thread "$@")
  # shellcheck disable=SC2086
  cmd=(ffmpeg -nostdin -v error ${t:+-filter_threads 1} $t -i "concat:$vobs" -target pal-svcd $t
    -y "$work/ff-b.mpg")
}
ff_c() {
  local t
  t=$(one_thread "$@")
  # shellcheck disable=SC2086
  cmd=(ffmpeg -nostdin -v error ${t:+-filter_threads 1} $t -i "concat:$vobs" -target pal-dvd $t
    -y "$work/ff-c.mpg")
}
ff_d() {
  local t
  t=$(one_thread "$@")
  # shellcheck disable=SC2086
  cmd=(ffmpeg -nostdin -v error $t -i "$disc/VIDEO_TS/VTS_01_1.VOB" -f yuv4mpegpipe -y /dev/null)
}

# bench CASE TITLE FRAMES: the four commands of a case in turn, RUNS rounds.
bench() {
  local case=$1 title=$2 frames=$3
  for _ in $(seq "$runs"); do
    timed "$case-ours1" "ours_$case" --threads 1
    timed "$case-ff1" "ff_$case" 1
    timed "$case-ours" "ours_$case" --threads 0
    timed "$case-ff" "ff_$case"
  done
  local o1 o ff1 ff
  o1=$(median "$case-ours1" 1) o=$(median "$case-ours" 1)
  ff1=$(median "$case-ff1" 1) ff=$(median "$case-ff" 1)
  printf '(%s) %s, %d frames\n' "$case" "$title" "$frames"
  printf '    ours --threads 1 %7.1f fps  %6d KB   default %7.1f fps  %6d KB\n' \
    "$(echo "$frames / $o1" | bc -l)" "$(median "$case-ours1" 2)" \
    "$(echo "$frames / $o" | bc -l)" "$(median "$case-ours" 2)"
  printf '    ffmpeg -threads 1 %6.1f fps              default %7.1f fps\n' \
    "$(echo "$frames / $ff1" | bc -l)" "$(echo "$frames / $ff" | bc -l)"
  printf '    ours/ffmpeg: default %.2f, one thread %.2f;  ours default/ours 1 thread %.2f\n' \
    "$(echo "$ff / $o" | bc -l)" "$(echo "$ff1 / $o1" | bc -l)" "$(echo "$o1 / $o" | bc -l)"
  printf '    cpu s (user+sys): ours %.2f, default %.2f;  ffmpeg %.2f, default %.2f\n' \
    "$(median "$case-ours1" 3)" "$(median "$case-ours" 3)" "$(median "$case-ff1" 3)" \
    "$(median "$case-ff" 3)"
}

echo "$(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg); $runs rounds; medians"
run ours_a --threads 1
bench a "AVI MPEG-4 (Xvid) 352x288 900 kbit/s + MP3 128 kbit/s" "$(frames_of "$work/out/a.avi")"
run ours_b --threads 1
bench b "SVCD PAL" "$(frames_of "$work/out/b.mpg")"
run ours_c --threads 1
bench c "DVD PAL High Quality, MotionSearch 2" "$(frames_of "$work/out/c.mpg")"
bench d "decoding alone" "$(frames_of "$disc/VIDEO_TS/VTS_01_1.VOB")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "md5 of the MPEG outputs by thread count (must not differ):"
for case in b c; do
  for threads in 1 2 4; do
    run "ours_$case" --threads $threads
    echo "    $(md5sum <"$work/out/$case.mpg" | cut -d' ' -f1)  ($case) --threads $threads"
  done
done
