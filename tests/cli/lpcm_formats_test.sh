#!/usr/bin/env bash
# LPCM tracks as music and concert discs carry them (ffmpeg's DVD muxer,
# dvdauthor): 24-bit samples and 96 kHz come out as the same 1 kHz tone, at
# the same level and length, as 16-bit 48 kHz does; they were read as 16-bit
# 48 kHz words before, which gave noise or a tone an octave down.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor python3
make_workspace

# tone FILE: the seconds of sound, its frequency and its RMS level, from the
# zero crossings and samples of the middle second.
tone() {
  ffmpeg -nostdin -v error -i "$1" -ac 1 -ar 44100 -f s16le - | python3 -c '
import sys, struct, math
d = sys.stdin.buffer.read(); n = len(d) // 2; s = struct.unpack("<%dh" % n, d)
mid = s[44100:88200]
crossings = sum(1 for a, b in zip(mid, mid[1:]) if (a < 0) != (b < 0))
print("%.2f %d %.0f" % (n / 44100, crossings // 2, math.sqrt(sum(x * x for x in mid) / len(mid))))'
}

for format in s16:48000 s32:48000 s16:96000 s32:96000; do
  depth=${format%%:*} rate=${format##*:} name=${format%%:*}_${format##*:}
  ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=size=720x576:rate=25 \
    -f lavfi -i sine=frequency=1000:sample_rate=$rate -t 3 -map 0:v -map 1:a \
    -c:v mpeg2video -b:v 3M -c:a pcm_dvd -sample_fmt $depth -ac 2 -f dvd "$work/$name.vob"
  VIDEO_FORMAT=PAL dvdauthor -o "$work/$name" -t "$work/$name.vob" >/dev/null 2>&1
  VIDEO_FORMAT=PAL dvdauthor -o "$work/$name" -T >/dev/null 2>&1
  "$zembra" rip "$work/$name" --format 12 --output-dir "$work/out" --name $name --overwrite \
    --quiet </dev/null >"$work/log" 2>&1 || fail "$name: $(cat "$work/log")"
  read -r seconds hertz level <<<"$(tone "$work/out/$name.mpg")"
  near "$seconds" 3 0.05 || fail "$name: $seconds s of sound"
  near "$hertz" 1000 3 || fail "$name: a $hertz Hz tone, not 1000 Hz"
  [ -n "${reference:-}" ] || reference=$level
  near "$level" "$reference" $((reference / 50)) || fail "$name: level $level, 16-bit 48 kHz $reference"
done
echo "LPCM at 16 and 24 bits, 48 and 96 kHz, ripped alike"
