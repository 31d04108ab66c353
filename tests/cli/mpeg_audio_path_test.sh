#!/usr/bin/env bash
# MPEG audio at 48 kHz passes the program-stream path untouched: the Layer II
# track of a disc (mono, 224 kbit/s, a 660 Hz tone beside an AC-3 track),
# decoded with the rip's sound path and no resampling, is the same run of
# samples as its elementary stream decoded alone; only where it starts
# differs (the sound is cut to the first picture).
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg dvdauthor
make_workspace

ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=4 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 \
  -f lavfi -i sine=frequency=660:sample_rate=48000:duration=4 \
  -map 0:v -map 1:a -map 2:a -c:v mpeg2video -b:v 2000k -g 12 -pix_fmt yuv420p \
  -c:a:0 ac3 -b:a:0 192k -c:a:1 mp2 -b:a:1 224k -ac 1 \
  -f dvd -muxrate 10080000 -packetsize 2048 "$work/title.mpg"
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -t "$work/title.mpg" >/dev/null 2>&1
VIDEO_FORMAT=PAL dvdauthor -o "$work/disc" -T >/dev/null 2>&1
ffmpeg -nostdin -v error -y -i "$work/title.mpg" -map 0:a:1 -c copy -f mp2 "$work/track.mp2"

"$zembra" decode "$work/disc" --audio 1 --audio-only --downsampling 4 -o "$work/out/ps.wav" \
  >"$work/log" 2>&1 || fail "decode: $(cat "$work/log")"
"$zembra" audio-decode "$work/track.mp2" -o "$work/out/es.wav" >"$work/log" 2>&1 ||
  fail "audio-decode: $(cat "$work/log")"

# Both WAVs carry the mono track on two channels (4 bytes a sample frame) after
# a 44-byte header. Find the shift at which three seconds of them agree byte
# for byte; the program stream's sound starts at most 0.1 s off.
span=$((48000 * 3 * 4))
for shift in $(seq 0 4800); do
  if cmp -s -n $span -i $((44 + shift * 4)):44 "$work/out/es.wav" "$work/out/ps.wav" ||
    cmp -s -n $span -i 44:$((44 + shift * 4)) "$work/out/es.wav" "$work/out/ps.wav"; then
    echo "MPEG audio through the program stream: identical to its elementary stream (shift $shift)"
    exit 0
  fi
done
fail "the program stream's MPEG audio differs from its elementary stream's decoding"
