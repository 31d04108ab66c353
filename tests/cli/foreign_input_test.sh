#!/usr/bin/env bash
# Files Zembra does not read are refused with a message that says what they
# are, a non-zero exit and no output file: transport streams (MPEG-2 or
# H.264 video) given to scan, decode and rip, and an MP3 file given to
# audio-decode (which wrote an empty WAV and exited 0).
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg
streams=$build/test-streams
"$source/tools/make-test-streams.sh" "$streams" dvb.ts h264.ts tone.mp3
make_workspace

# refused WHAT COMMAND...: non-zero exit, the message names WHAT, nothing written.
refused() {
  local what=$1
  shift
  if "$@" >"$work/log" 2>&1 </dev/null; then fail "$* succeeded: $(cat "$work/log")"; fi
  grep -q "$what" "$work/log" || fail "$*: no word of $what: $(cat "$work/log")"
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
refused "is MPEG audio Layer III (MP3)" "$zembra" audio-decode "$streams/tone.mp3" -o "$work/out/x.wav"
echo "foreign inputs refused"
