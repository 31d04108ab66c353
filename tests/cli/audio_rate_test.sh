#!/usr/bin/env bash
# Sound at 44.1 kHz (AC-3, legal in A/52 though not on DVD, and MPEG audio)
# keeps its rate in the AVI with DownSampling 4 ("keep 48 kHz"), where
# nothing is resampled: the MP3 is labelled 44100 Hz and lasts as long as
# the pictures, as with the resampling modes; the decoder's WAV likewise.
# The audio converters take the sound's rate too, whenever DownSampling was
# set, and 32 kHz sound is written to its WAV file at 32 kHz.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe
streams=$build/test-streams
"$source/tools/make-test-streams.sh" "$streams" ac3_44k.mpg late_mpeg1.mpg ac3_32k.mpg
make_workspace

probe() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1"; }
# The MP3 stream's length from its decoded samples, not its header.
soundSeconds() {
  ffmpeg -nostdin -v error -i "$1" -map 0:a:0 -f s16le -ac 1 -ar 44100 - | wc -c |
    awk '{ print $1 / 2 / 44100 }'
}

for input in ac3_44k.mpg late_mpeg1.mpg; do
  for ds in 4 0; do
    name=${input%.mpg}_$ds
    "$zembra" rip "$streams/$input" --output-dir "$work/out" --name "$name" --yes --quiet --overwrite \
      --format 2 --video-codec 'DIB ' --avi-audio mp3 --width 352 --height 288 --fps-index 2 \
      --downsampling $ds </dev/null >"$work/log" 2>&1 || fail "$name: $(cat "$work/log")"
    avi=$work/out/$name.avi
    rate=$(probe "$avi" a:0 sample_rate)
    [ "$rate" = 44100 ] || fail "$name: the sound is labelled $rate Hz, not 44100"
    pictures=$(awk -v n="$(frames "$avi")" 'BEGIN { print n / 25 }')
    near "$(soundSeconds "$avi")" "$pictures" 0.1 ||
      fail "$name: $(soundSeconds "$avi") s of sound for $pictures s of pictures"
  done
done
for input in ac3_44k.mpg late_mpeg1.mpg; do
  "$zembra" decode "$streams/$input" --audio-only --downsampling 4 -o "$work/out/sound.wav" \
    >"$work/log" 2>&1 || fail "decode $input: $(cat "$work/log")"
  rate=$(probe "$work/out/sound.wav" a:0 sample_rate)
  [ "$rate" = 44100 ] || fail "decode $input: the WAV is labelled $rate Hz, not 44100"
done
# A converter chosen before --downsampling 4 is applied: its format follows
# the rate the sound comes at (48 kHz kept, 44.1 kHz as it is).
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-audio-rate" --seconds 2 --ac3)
for converter in PCM MP3; do
  for input in "$disc:48000" "$streams/ac3_44k.mpg:44100"; do
    name=acm_${converter}_${input##*:}
    "$zembra" rip "${input%:*}" --output-dir "$work/out" --name "$name" --yes --quiet --overwrite \
      --format 2 --video-codec 'DIB ' --avi-audio "acm:$converter" --width 352 --height 288 \
      --fps-index 2 --downsampling 4 </dev/null >"$work/log" 2>&1 || fail "$name: $(cat "$work/log")"
    rate=$(probe "$work/out/$name.avi" a:0 sample_rate)
    [ "$rate" = "${input##*:}" ] || fail "$name: the sound is labelled $rate Hz, not ${input##*:}"
  done
done

"$zembra" rip "$streams/ac3_32k.mpg" --output-dir "$work/out" --name wav32 --yes --quiet --overwrite \
  --format 2 --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 \
  --downsampling 0 </dev/null >"$work/log" 2>&1 || fail "32 kHz to WAV: $(cat "$work/log")"
rate=$(probe "$work/out/wav32.wav" a:0 sample_rate)
[ "$rate" = 32000 ] || fail "32 kHz to WAV: labelled $rate Hz"
echo "sound kept at its rate: 44.1 kHz and 32 kHz, MP3, WAV and the converters"
