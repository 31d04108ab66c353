#!/usr/bin/env bash
# Fixtures of the frame pipeline tests, made with ffmpeg, spumux and
# dvdauthor (never with our own code) and cached in DIR:
#   DIR/sub/VIDEO_TS   PAL title, 4 s, AC-3, one subtitle stream: an opaque
#                      white 320x40 box at (200, 476) from 0.5 s to 2.0 s
#   DIR/gradient.m2v   1 s of smooth gradients, 720x576 MPEG-2 video
# usage: make_fixtures.sh DIR
set -euo pipefail
dir=$1
[ -f "$dir/done" ] && exit 0
# CTest runs the tests of one executable in parallel: one maker at a time.
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
[ -f "$dir/done" ] && exit 0
for tool in ffmpeg spumux dvdauthor; do
  command -v $tool >/dev/null || { echo "missing $tool" >&2; exit 3; }
done
rm -rf "$dir"
mkdir -p "$dir/work"
w=$dir/work
ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=4" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" \
  -c:v mpeg2video -b:v 4000k -maxrate 8000k -bufsize 1835k -bf 2 -g 15 -pix_fmt yuv420p \
  -c:a ac3 -b:a 192k -ac 2 -f dvd -muxrate 10080000 -packetsize 2048 "$w/title.mpg"
# drawbox leaves the alpha of a transparent picture at 0, so the box is an
# overlay of an opaque white picture.
ffmpeg -nostdin -loglevel error -y -f lavfi -i "color=c=black@0.0:size=720x576,format=rgba" \
  -f lavfi -i "color=c=white:size=320x40,format=rgba" \
  -filter_complex "[0][1]overlay=200:476,format=rgba" -frames:v 1 "$w/sub.png"
cat >"$w/sub.xml" <<XML
<subpictures format="PAL"><stream>
  <spu start="00:00:00.50" end="00:00:02.00" image="$w/sub.png" force="yes"/>
</stream></subpictures>
XML
VIDEO_FORMAT=PAL spumux -s 0 "$w/sub.xml" <"$w/title.mpg" >"$w/title.sub.mpg" 2>"$w/spumux.log"
cat >"$w/dvd.xml" <<XML
<dvdauthor dest="$dir/sub"><vmgm/><titleset><titles>
<video format="pal" aspect="4:3"/><audio lang="en"/><subpicture lang="en"/>
<pgc><vob file="$w/title.sub.mpg"/></pgc>
</titles></titleset></dvdauthor>
XML
VIDEO_FORMAT=PAL dvdauthor -x "$w/dvd.xml" >"$w/dvdauthor.log" 2>&1
ffmpeg -nostdin -loglevel error -y -f lavfi -i "gradients=s=720x576:r=25:d=1:speed=0.01" \
  -c:v mpeg2video -q:v 2 -f mpeg2video "$dir/gradient.m2v"
rm -rf "$w"
touch "$dir/done"
