#!/usr/bin/env bash
# NTSC film with LPCM sound (mpeg2enc's 3:2 pull-down, 23.976 fps coded,
# LPCM 48 kHz stereo muxed by mplex, authored by dvdauthor): ripped to AVI at
# 23.976 fps with every DownSampling that resamples or keeps the rate, the
# title comes out whole, with no message about too much sound.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe mpeg2enc mplex dvdauthor
make_workspace

ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x480:rate=24000/1001 -t 6 \
  -pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 -f 8 -a 2 -F 1 -p -o "$work/film.m2v" 2>/dev/null
ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=1000:sample_rate=48000 -t 6 -ac 2 \
  -f s16be "$work/sound.lpcm"
mplex -v 0 -f 8 -L 48000:2:16 -o "$work/title.mpg" "$work/film.m2v" "$work/sound.lpcm" 2>/dev/null
VIDEO_FORMAT=NTSC dvdauthor -o "$work/disc" -t "$work/title.mpg" >/dev/null 2>&1
VIDEO_FORMAT=NTSC dvdauthor -o "$work/disc" -T >/dev/null 2>&1

for ds in 0 4; do
  name=film_$ds
  "$zembra" rip "$work/disc" --output-dir "$work/out" --name $name --yes --overwrite \
    --format 2 --video-codec 'DIB ' --avi-audio mp3 --width 352 --height 240 --fps-index 0 \
    --downsampling $ds </dev/null >"$work/log" 2>&1 || fail "$name: $(cat "$work/log")"
  grep -q "Too much sample" "$work/log" && fail "$name: $(cat "$work/log")"
  avi=$work/out/$name.avi
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$avi")
  [ "$frames" -ge 143 ] && [ "$frames" -le 145 ] || fail "$name: $frames pictures of 144"
  seconds=$(ffmpeg -nostdin -v error -i "$avi" -map 0:a:0 -f s16le -ac 1 -ar 44100 - | wc -c |
    awk '{ print $1 / 2 / 44100 }')
  awk -v s="$seconds" 'BEGIN { exit !(s >= 5.9 && s <= 6.2) }' || fail "$name: $seconds s of sound of 6"
done
echo "NTSC film with LPCM sound ripped whole"
