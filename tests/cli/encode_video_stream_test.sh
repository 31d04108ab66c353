#!/usr/bin/env bash
# zembra encode -o OUT.m1v / OUT.m2v writes the video elementary stream alone:
# the very pictures the program stream of the same run carries (ffmpeg takes
# them out of it for the comparison), every one of them, and no sound. In the
# MPEG-2 layout the program stream's I pictures get their scan offsets once
# the file is complete, which a stream alone has no sectors for: there the
# sizes and the decoded pictures must be the same. Pictures piped in (IN
# given as -, with no length to count) make the same stream as the file. A WAV
# file given with such an output is a usage error, not sound silently lost.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe
make_workspace
export HOME=$work
in=$work/in.y4m
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -frames:v 30 -pix_fmt yuv420p "$in"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 1.2 -ac 2 "$work/in.wav"

check() {  # FORMAT EXT MUXER
  local es=$work/out.$2 ps=$work/out.mpg
  "$zembra" encode "$in" --format "$1" -o "$es" --quiet --overwrite || fail "$1: .$2 not written"
  "$zembra" encode "$in" --format "$1" -o "$ps" --quiet --overwrite
  local streams
  streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$es" | cut -d, -f1 | xargs)
  [ "$streams" = video ] || fail "$1: the .$2 file holds '$streams', not one video stream"
  local count
  count=$(frames "$es" | cut -d, -f1)
  [ "$count" = 30 ] || fail "$1: $count of 30 pictures in the .$2 file"
  ffmpeg -nostdin -v error -y -i "$ps" -map 0:v -c copy -f "$3" "$work/from-ps.$2"
  if [ "$2" = m1v ]; then
    cmp -s "$es" "$work/from-ps.$2" || fail "$1: the .$2 file is not the program stream's video"
  else
    [ "$(stat -c %s "$es")" = "$(stat -c %s "$work/from-ps.$2")" ] ||
      fail "$1: the .$2 file's size is not the program stream's video's"
    [ "$(ffmpeg -nostdin -v error -i "$es" -f md5 -)" = "$(ffmpeg -nostdin -v error -i "$ps" -map 0:v -f md5 -)" ] ||
      fail "$1: the .$2 file's pictures are not the program stream's"
  fi
}
check "vcd pal good quality" m1v mpeg1video
check "dvd pal high quality" m2v mpeg2video

"$zembra" encode - --format "vcd pal good quality" -o "$work/piped.m1v" --quiet --overwrite <"$in"
"$zembra" encode "$in" --format "vcd pal good quality" -o "$work/file.m1v" --quiet --overwrite
cmp -s "$work/piped.m1v" "$work/file.m1v" || fail "pictures piped in make another stream than the file"

status=0
"$zembra" encode "$in" "$work/in.wav" --format "vcd pal good quality" -o "$work/x.m1v" \
  --quiet 2>"$work/err" || status=$?
[ "$status" = 2 ] || fail "sound with a video-only output: exit $status, not 2"
grep -q "holds video alone" "$work/err" || fail "no message for sound with a video-only output"
[ ! -e "$work/x.m1v" ] || fail "a file was written for a refused command"
