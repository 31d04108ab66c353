#!/usr/bin/env bash
# Files Zembra does not read are refused with a message that says what they
# are, a non-zero exit and no output file: transport streams (MPEG-2 or
# H.264 video) and MP4, Matroska and AVI files (with MPEG-2 video) given to
# scan, decode and rip, and an MP3 file given to
# audio-decode (which wrote an empty WAV and exited 0). A file with no video
# in it fails the same way. Each message is said once: the decoder returns
# its failure and the command shows it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg
streams=$build/test-streams
"$source/tools/make-test-streams.sh" "$streams" dvb.ts h264.ts tone.mp3
make_workspace

# refused WHAT COMMAND...: non-zero exit, the message names WHAT once, nothing written.
refused() {
  local what=$1
  shift
  if "$@" >"$work/log" 2>&1 </dev/null; then fail "$* succeeded: $(cat "$work/log")"; fi
  [ "$(grep -c "$what" "$work/log")" = 1 ] || fail "$*: not one word of $what: $(cat "$work/log")"
  [ -z "$(ls -A "$work/out")" ] || fail "$*: wrote $(ls "$work/out")"
}
for ts in dvb.ts h264.ts; do
  refused "is an MPEG transport stream" "$zembra" scan "$streams/$ts"
  refused "is an MPEG transport stream" "$zembra" decode "$streams/$ts" -o "$work/out/x.y4m"
  refused "is an MPEG transport stream" "$zembra" rip "$streams/$ts" --output-dir "$work/out" --name x \
    --yes --quiet --format 2 --video-codec 'DIB ' --avi-audio wav
  refused "is an MPEG transport stream" "$zembra" rip "$streams/$ts" --output-dir "$work/out" --name x \
    --yes --quiet --format "VCD PAL Good Quality"
done
# Other containers with MPEG-2 video in them: the video lies cut up between
# the container's headers (an MP4 was ripped with 63 pictures of its 50).
for container in mp4 mkv avi; do
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t 2 -c:v mpeg2video \
    "$work/video.$container"
  refused "is a video file of another kind" "$zembra" scan "$work/video.$container"
  refused "is a video file of another kind" "$zembra" decode "$work/video.$container" \
    -o "$work/out/x.y4m"
  refused "is a video file of another kind" "$zembra" rip "$work/video.$container" \
    --output-dir "$work/out" --name x --yes --quiet --format "VCD PAL Good Quality"
done
junk=$work/junk.mpg
head -c 20000 /dev/zero | tr '\0' 'B' >"$junk"
refused "Failed to parse file, no sequence header found." "$zembra" scan "$junk"
refused "MPEG2Dec: Error during decoder initialization." "$zembra" decode "$junk" -o "$work/out/x.y4m"
refused "Failed to parse file, no sequence header found." "$zembra" rip "$junk" --output-dir "$work/out" \
  --name x --yes --quiet --format "VCD PAL Good Quality"
# A file that is not there is named, with the system's reason.
refused "cannot open $work/gone.vob: No such file or directory" "$zembra" decode "$work/gone.vob" \
  -o "$work/out/x.y4m"
refused "is MPEG audio Layer III (MP3)" "$zembra" audio-decode "$streams/tone.mp3" -o "$work/out/x.wav"
echo "foreign inputs refused"
