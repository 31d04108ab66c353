#!/usr/bin/env bash
# A title of one picture (a navigation dummy, 40 ms at 25 fps) ripped at 24
# fps comes to no output frame: the row fails with a message that says why,
# rather than counting a file without a picture as ripped; at 25 fps it has
# its picture.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
make_workspace

ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=size=720x576:rate=25 \
  -f lavfi -i sine=sample_rate=48000 -frames:v 1 -t 0.04 -c:v mpeg2video -c:a ac3 -f dvd \
  "$work/one.vob"
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -t "$work/one.vob" >/dev/null 2>&1
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -T >/dev/null 2>&1

rip() {  # FPS-INDEX NAME: the exit status, the messages in $work/log
  local rc=0
  "$zembra" rip "$work/disc" --format 2 --video-codec 'DIB ' --avi-audio mp3 --fps-index "$1" \
    --width 176 --height 144 --output-dir "$work/out" --name "$2" --overwrite --quiet \
    </dev/null >"$work/log" 2>&1 || rc=$?
  return $rc
}
rc=0
rip 1 low || rc=$?
[ "$rc" = 1 ] || fail "one picture at 24 fps: exit $rc: $(cat "$work/log")"
grep -q "shorter than one picture at the output frame rate" "$work/log" || fail "$(cat "$work/log")"
grep -q "0 of 1 title(s) ripped" "$work/log" || fail "counted as ripped: $(cat "$work/log")"
rip 2 full || fail "one picture at 25 fps: $(cat "$work/log")"
[ "$(frames "$work/out/full.avi")" = 1 ] || fail "25 fps: $(frames "$work/out/full.avi") pictures"
echo "a title shorter than an output frame is not counted as ripped"
