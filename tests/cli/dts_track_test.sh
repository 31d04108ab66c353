#!/usr/bin/env bash
# A title with an LPCM and a DTS track (ffmpeg's DVD muxer, dvdauthor): the
# LPCM track is ripped with its sound; the DTS track, which is listed but not
# decoded, gives the pictures and silence with a warning that says so, and
# no warning when the output carries no sound.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
make_workspace

ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=size=720x576:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=660:sample_rate=48000 \
  -t 4 -map 0:v -map 1:a -map 2:a -c:v mpeg2video -b:v 4M -g 12 \
  -c:a:0 pcm_s16be -ac:a:0 2 -c:a:1 dts -strict -2 -ac:a:1 2 -b:a:1 768k -f dvd "$work/title.vob"
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -t "$work/title.vob" >/dev/null 2>&1
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -T >/dev/null 2>&1
"$zembra" scan "$work/disc" | grep -q "DTS" || fail "no DTS track listed: $("$zembra" scan "$work/disc")"

loudness() {
  ffmpeg -nostdin -nostats -i "$1" -vn -af volumedetect -f null - 2>&1 |
    sed -n 's/.*mean_volume: \(-*[0-9.]*\) dB/\1/p'
}

for track in 0 1; do
  "$zembra" rip "$work/disc" --audio $track --format 9 --output-dir "$work/out" --name t$track \
    --overwrite --quiet </dev/null >"$work/log" 2>&1 || fail "track $track: $(cat "$work/log")"
  out=$work/out/t$track.mpg
  pictures=$(frames "$out")
  [ "${pictures%%,*}" -eq 100 ] || fail "track $track: $pictures pictures of 100"
  level=$(loudness "$out")
  if [ $track = 0 ]; then
    grep -q "DTS" "$work/log" && fail "LPCM track warned: $(cat "$work/log")"
    awk -v l="$level" 'BEGIN { exit !(l > -40) }' || fail "LPCM track: sound at $level dB"
  else
    grep -q "Warning: The chosen audio track is DTS" "$work/log" || fail "no warning: $(cat "$work/log")"
    awk -v l="$level" 'BEGIN { exit !(l < -80) }' || fail "DTS track: sound at $level dB"
  fi
done

"$zembra" rip "$work/disc" --audio 1 --format 2 --video-codec 'DIB ' --avi-audio none \
  --width 352 --height 288 --output-dir "$work/out" --name silent --overwrite --quiet \
  </dev/null >"$work/log" 2>&1 || fail "AVI without sound: $(cat "$work/log")"
grep -q "DTS" "$work/log" && fail "AVI without sound warned: $(cat "$work/log")"
echo "LPCM ripped with sound, DTS with a warning"
