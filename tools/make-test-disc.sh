#!/usr/bin/env bash
# Makes a small DVD-Video title set for tests with ffmpeg + dvdauthor (+ spumux
# for subtitles) and, on request, a UDF disc image with genisoimage. Nothing
# here uses Zembra's own code, so the reader is checked against discs nobody
# on the project wrote.
#
# usage: tools/make-test-disc.sh --out DIR [options]
#   --out DIR            where to put DIR/VIDEO_TS (and DIR/disc.iso); required
#   --pal | --ntsc       720x576 at 25 fps (default) or 720x480 at 30000/1001
#   --wide               16:9 display aspect (default 4:3)
#   --no-bframes         I/P only (default: B pictures, -bf 2 -g 15)
#   --seconds S          length of each title (default 4)
#   --audio KIND[:LANG]  add an audio track; KIND is ac3 (2.0), ac3-51, mp2 or
#                        lpcm; LANG a two-letter code (default en). Repeatable.
#   --ac3 --ac3-51 --mp2 --lpcm   shorthands for --audio KIND:en
#   --no-audio           video only
#                        (with no audio option at all: one AC-3 2.0 track, en)
#   --subs N             N subtitle streams (0-2, default 0); languages en, fr
#   --chapters LIST      chapter points of title 1, e.g. 0,0:01,0:02 (default 0)
#   --two-pgc            a second title (program chain) in the same title set
#   --seconds2 S         length of that second title (default: --seconds)
#   --split-sectors N    cut VTS_01_1.VOB every N sectors into VTS_01_1.VOB,
#                        VTS_01_2.VOB, ... (sector numbering runs on)
#   --iso                also make DIR/disc.iso (UDF, -dvd-video)
#   --bitrate B          video bit rate (default 2500k)
#   --still              title 1 is one I picture (cut from a coded stream with
#                        its time stamps) with the sound of the whole length:
#                        a menu, a slide or an audio-only title of a real disc
#
# The result is cached: running again with the same options does nothing.
# Prints DIR on success.
set -euo pipefail

out=""
standard=pal
aspect=4:3
bframes=1
seconds=4
audios=()
noaudio=0
subs=0
chapters="0"
twopgc=0
split=0
iso=0
bitrate=2500k
still=0
seconds2=""
args_all="$*"

while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift ;;
    --pal) standard=pal ;;
    --ntsc) standard=ntsc ;;
    --wide) aspect=16:9 ;;
    --no-bframes) bframes=0 ;;
    --seconds) seconds=$2; shift ;;
    --audio) audios+=("$2"); shift ;;
    --ac3) audios+=("ac3:en") ;;
    --ac3-51) audios+=("ac3-51:en") ;;
    --mp2) audios+=("mp2:en") ;;
    --lpcm) audios+=("lpcm:en") ;;
    --no-audio) noaudio=1 ;;
    --subs) subs=$2; shift ;;
    --chapters) chapters=$2; shift ;;
    --two-pgc) twopgc=1 ;;
    --split-sectors) split=$2; shift ;;
    --iso) iso=1 ;;
    --bitrate) bitrate=$2; shift ;;
    --still) still=1 ;;
    --seconds2) seconds2=$2; shift ;;
    -h|--help) sed -n '2,30p' "$0"; exit 0 ;;
    *) echo "make-test-disc: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$out" ] || { echo "make-test-disc: --out DIR is required" >&2; exit 2; }
if [ ${#audios[@]} -eq 0 ] && [ $noaudio -eq 0 ]; then audios=("ac3:en"); fi
if [ $noaudio -eq 1 ]; then audios=(); fi

for tool in ffmpeg dvdauthor; do
  command -v $tool >/dev/null || { echo "make-test-disc: $tool missing" >&2; exit 3; }
done
[ "$subs" -eq 0 ] || command -v spumux >/dev/null || { echo "make-test-disc: spumux missing" >&2; exit 3; }
[ $iso -eq 0 ] || command -v genisoimage >/dev/null || { echo "make-test-disc: genisoimage missing" >&2; exit 3; }

# Tests run in parallel and may ask for the same disc: one maker at a time.
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9

stamp="$(sha1sum "$0" | cut -c1-12) $args_all"
if [ -f "$out/.made-by" ] && [ "$(cat "$out/.made-by")" = "$stamp" ]; then
  echo "$out"
  exit 0
fi

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ $standard = pal ]; then size=720x576; rate=25; export VIDEO_FORMAT=PAL
else size=720x480; rate=30000/1001; export VIDEO_FORMAT=NTSC; fi
if [ $bframes -eq 1 ]; then gop=(-g 15 -bf 2); else gop=(-g 12 -bf 0); fi

# One muxed title: testsrc2 picture, a sine per audio track.
make_title() {
  local name=$1 pattern=$2
  local inputs=(-f lavfi -i "$pattern=size=$size:rate=$rate:duration=$seconds")
  local maps=(-map 0:v)
  local codecs=()
  local i=0
  for a in "${audios[@]}"; do
    local kind=${a%%:*} lang=en
    [ "$a" = "$kind" ] || lang=${a#*:}
    local freq=$((440 + 220 * i))
    local layout=stereo
    [ "$kind" = ac3-51 ] && layout=5.1
    inputs+=(-f lavfi -i "sine=frequency=$freq:sample_rate=48000:duration=$seconds,aformat=channel_layouts=$layout")
    maps+=(-map $((i + 1)):a)
    case "$kind" in
      ac3) codecs+=(-c:a:$i ac3 -b:a:$i 192k) ;;
      ac3-51) codecs+=(-c:a:$i ac3 -b:a:$i 384k) ;;
      mp2) codecs+=(-c:a:$i mp2 -b:a:$i 192k) ;;
      lpcm) codecs+=(-c:a:$i pcm_dvd) ;;
      *) echo "make-test-disc: unknown audio kind $kind" >&2; exit 2 ;;
    esac
    codecs+=(-metadata:s:a:$i language=$lang)
    i=$((i + 1))
  done
  if [ $still -eq 1 ] && [ "$name" = title1 ]; then
    # The picture alone, cut with -c copy, then muxed with the sound.
    ffmpeg -nostdin -loglevel error -y "${inputs[@]:0:4}" -t 1 -c:v mpeg2video -b:v "$bitrate" \
      "${gop[@]}" -aspect $aspect -pix_fmt yuv420p -f dvd "$work/full.mpg"
    ffmpeg -nostdin -loglevel error -y -i "$work/full.mpg" -frames:v 1 -c copy -f dvd "$work/one.mpg"
    inputs=(-i "$work/one.mpg" "${inputs[@]:4}")
    ffmpeg -nostdin -loglevel error -y "${inputs[@]}" "${maps[@]}" -c:v copy "${codecs[@]}" \
      -f dvd -muxrate 10080000 -packetsize 2048 "$work/$name.mpg"
    return
  fi
  ffmpeg -nostdin -loglevel error -y "${inputs[@]}" "${maps[@]}" \
    -c:v mpeg2video -b:v "$bitrate" -maxrate 8000k -bufsize 1835k "${gop[@]}" -aspect $aspect \
    -pix_fmt yuv420p "${codecs[@]}" \
    -f dvd -muxrate 10080000 -packetsize 2048 "$work/$name.mpg"
}

# Subtitle streams through spumux: a white box, a different place per stream.
add_subs() {
  local name=$1
  local h=${size#*x}
  for s in $(seq 0 $((subs - 1))); do
    local y=$((h - 100 - 60 * s))
    ffmpeg -nostdin -loglevel error -y -f lavfi \
      -i "color=c=black:size=$size,drawbox=x=200:y=$y:w=320:h=40:color=white@1.0:t=fill" \
      -frames:v 1 -pix_fmt rgb24 "$work/sub$s.png"
    # Black is the transparent colour: spumux gives an alpha channel's
    # pixels no contrast, and the box would be invisible.
    cat >"$work/sub$s.xml" <<EOF
<subpictures format="$VIDEO_FORMAT"><stream>
  <spu start="00:00:00.50" end="00:00:02.00" image="$work/sub$s.png" transparent="000000" force="yes"/>
</stream></subpictures>
EOF
    spumux -s "$s" "$work/sub$s.xml" <"$work/$name.mpg" >"$work/$name.sub.mpg" 2>"$work/spumux.log"
    mv "$work/$name.sub.mpg" "$work/$name.mpg"
  done
}

make_title title1 testsrc2
[ "$subs" -eq 0 ] || add_subs title1
if [ $twopgc -eq 1 ]; then
  seconds1=$seconds
  seconds=${seconds2:-$seconds}
  make_title title2 smptebars
  seconds=$seconds1
  [ "$subs" -eq 0 ] || add_subs title2
fi

# dvdauthor description: one title set, one or two titles.
langs=""
for a in "${audios[@]}"; do
  lang=en; [ "$a" = "${a%%:*}" ] || lang=${a#*:}
  langs+="<audio lang=\"$lang\"/>"
done
sublangs=""
sl=(en fr)
for s in $(seq 0 $((subs - 1))); do sublangs+="<subpicture lang=\"${sl[$s]}\"/>"; done
{
  echo "<dvdauthor dest=\"$out\"><vmgm/><titleset><titles>"
  echo "<video format=\"$standard\" aspect=\"$aspect\"/>$langs$sublangs"
  echo "<pgc><vob file=\"$work/title1.mpg\" chapters=\"$chapters\"/></pgc>"
  [ $twopgc -eq 0 ] || echo "<pgc><vob file=\"$work/title2.mpg\"/></pgc>"
  echo "</titles></titleset></dvdauthor>"
} >"$work/dvd.xml"
dvdauthor -x "$work/dvd.xml" >"$work/dvdauthor.log" 2>&1 || { cat "$work/dvdauthor.log" >&2; exit 1; }

if [ "$split" -gt 0 ]; then
  vob="$out/VIDEO_TS/VTS_01_1.VOB"
  (cd "$work" && split -b $((split * 2048)) -d -a 1 "$vob" piece.)
  n=$(ls "$work"/piece.* | wc -l)
  [ "$n" -le 9 ] || { echo "make-test-disc: --split-sectors gives more than 9 files" >&2; exit 2; }
  rm -f "$vob"
  k=1
  for p in $(ls "$work"/piece.* | sort -t. -k2 -n); do
    mv "$p" "$out/VIDEO_TS/VTS_01_$k.VOB"
    k=$((k + 1))
  done
fi

if [ $iso -eq 1 ]; then
  mkdir -p "$work/disc"
  cp -r "$out/VIDEO_TS" "$work/disc/"
  mkdir -p "$work/disc/AUDIO_TS"
  genisoimage -quiet -dvd-video -udf -V ZEMBRA_TEST -o "$out/disc.iso" "$work/disc" 2>"$work/iso.log" ||
    { cat "$work/iso.log" >&2; exit 1; }
fi

echo "$stamp" >"$out/.made-by"
echo "$out"
