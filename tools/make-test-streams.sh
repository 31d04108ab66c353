#!/usr/bin/env bash
# Makes the decoder's test streams with ffmpeg and mpeg2enc (never with our
# own encoder), so the decoder is checked against streams nobody here wrote.
#
# usage: tools/make-test-streams.sh OUTDIR [NAME...]
# With no names every stream is made. Existing files are kept (a cache).
# Streams (a couple of seconds of test pattern each):
#   mpeg1.m1v        MPEG-1 elementary stream, B pictures
#   mpeg1_sys.mpg    MPEG-1 system stream with MP2 audio
#   prog.m2v         MPEG-2 progressive, B pictures, open GOPs
#   inter.m2v        MPEG-2 interlaced (field DCT and field prediction)
#   altscan.m2v      alternate scan, intra VLC table, non-linear quantiser
#   hibit.m2v        high bit rate, low quantiser (escape codes)
#   yuv422.m2v       4:2:2
#   ps.vob           MPEG-2 program stream with AC-3 audio (DVD muxer)
#   (mpeg2enc -I 2, field pictures, crashes in the packaged mjpegtools, so no
#    field-picture stream is made here)
#   pulldown.m2v     23.976 fps material through mpeg2enc with its pull-down switch
#                    (the packaged mpeg2enc writes no repeated fields; the
#                    film test sets repeat_first_field in a copy of ntsc.m2v)
#   ntsc.m2v         29.97 fps without repeated fields
#   dualprime.m2v    interlaced frame pictures from mpeg2enc with dual-prime
#                    prediction (P pictures only, as dual prime requires)
#   d1.vob           720x576 DVD-like program stream, ~6 Mbit/s (benchmark)
#   short_ps.mpg     MPEG-2 program stream with AC-3 of 1.48 s (37 pictures)
#   late_mpeg1.mpg   MPEG-1 system stream of 6.04 s whose first time stamp is 1.0 s
#   ac3_44k.mpg      MPEG-2 program stream with AC-3 at 44.1 kHz (legal in A/52, not on DVD)
#   ac3_32k.mpg      the same at 32 kHz
#   dvb.ts           MPEG transport stream: MPEG-2 video and MP2 (a DVB recording)
#   h264.ts          MPEG transport stream: H.264 video and AC-3 (a camcorder's)
#   tone.mp3         MPEG audio Layer III
set -euo pipefail
out=${1:?usage: make-test-streams.sh OUTDIR [NAME...]}
shift
mkdir -p "$out"
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(mpeg1.m1v mpeg1_sys.mpg prog.m2v inter.m2v altscan.m2v hibit.m2v \
    yuv422.m2v ps.vob pulldown.m2v dualprime.m2v)

ff() { ffmpeg -nostdin -v error -y "$@"; }
src="testsrc2=size=352x288:rate=25"
moving="mandelbrot=size=352x288:rate=25"
ntsc="testsrc2=size=352x240:rate=30000/1001"

make_one() {
    local name=$1 dst="$out/$1" tmp="$out/.tmp.$1"
    [ -s "$dst" ] && return 0
    case $name in
        mpeg1.m1v) ff -f lavfi -i "$src" -t 2 -c:v mpeg1video -b:v 1500k -bf 2 -g 12 -f mpeg1video "$tmp" ;;
        mpeg1_sys.mpg) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 \
            -c:v mpeg1video -b:v 1500k -bf 2 -g 12 -c:a mp2 -b:a 192k -f mpeg "$tmp" ;;
        prog.m2v) ff -f lavfi -i "$moving" -t 2 -c:v mpeg2video -b:v 4M -bf 2 -g 15 -f mpeg2video "$tmp" ;;
        inter.m2v) ff -f lavfi -i "$src" -t 2 -vf tinterlace=interleave_top,fieldorder=tff -pix_fmt yuv420p \
            -c:v mpeg2video -flags +ildct+ilme -top 1 -b:v 4M -bf 2 -g 12 -f mpeg2video "$tmp" ;;
        altscan.m2v) ff -f lavfi -i "$moving" -t 2 -c:v mpeg2video -alternate_scan 1 -intra_vlc 1 \
            -non_linear_quant 1 -qmax 28 -b:v 3M -bf 2 -g 12 -f mpeg2video "$tmp" ;;
        hibit.m2v) ff -f lavfi -i "$moving" -t 1 -c:v mpeg2video -qscale:v 1 -qmin 1 -bf 2 -g 12 \
            -intra_vlc 1 -f mpeg2video "$tmp" ;;
        yuv422.m2v) ff -f lavfi -i "$src" -t 2 -pix_fmt yuv422p -c:v mpeg2video -b:v 5M -bf 2 -g 12 \
            -f mpeg2video "$tmp" ;;
        ps.vob) ff -f lavfi -i "$moving" -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 \
            -c:v mpeg2video -b:v 4M -bf 2 -g 15 -c:a ac3 -b:a 192k -ac 2 \
            -f dvd -muxrate 10080000 -packetsize 2048 "$tmp" ;;
        pulldown.m2v) ff -f lavfi -i "testsrc2=size=352x240:rate=24000/1001" -t 2 -pix_fmt yuv420p \
            -f yuv4mpegpipe "$tmp.y4m"
            mpeg2enc -v 0 -f 3 -F 1 -p -b 4000 -o "$tmp" <"$tmp.y4m" >/dev/null 2>&1
            rm -f "$tmp.y4m" ;;
        dualprime.m2v) ff -f lavfi -i "mandelbrot=size=352x288:rate=50" -t 2 \
            -vf tinterlace=interleave_top,setfield=tff -pix_fmt yuv420p -f yuv4mpegpipe "$tmp.y4m"
            mpeg2enc -v 0 -f 3 -I 1 -R 0 --dualprime-mpeg2 -b 3000 -o "$tmp" <"$tmp.y4m" >/dev/null 2>&1
            rm -f "$tmp.y4m" ;;
        ntsc.m2v) ff -f lavfi -i "$ntsc" -t 1 -c:v mpeg2video -b:v 2M -bf 2 -g 12 -f mpeg2video "$tmp" ;;
        d1.vob) ff -f lavfi -i "mandelbrot=size=720x576:rate=25" -f lavfi \
            -i sine=frequency=440:sample_rate=48000 -t 8 -c:v mpeg2video -b:v 6M -maxrate 8M \
            -bufsize 1835k -bf 2 -g 12 -c:a ac3 -b:a 192k -ac 2 \
            -f dvd -muxrate 10080000 -packetsize 2048 "$tmp" ;;
        short_ps.mpg) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=440:sample_rate=48000 -t 1.48 \
            -c:v mpeg2video -b:v 3M -bf 2 -g 12 -c:a ac3 -b:a 192k -ac 2 -f dvd "$tmp" ;;
        late_mpeg1.mpg) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=440:sample_rate=44100 -t 6.04 \
            -c:v mpeg1video -b:v 1500k -bf 2 -g 12 -c:a mp2 -b:a 192k -output_ts_offset 1 -f mpeg "$tmp" ;;
        ac3_44k.mpg) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 2 \
            -c:v mpeg2video -b:v 3M -bf 2 -g 12 -c:a ac3 -b:a 192k -ac 2 -f vob "$tmp" ;;
        ac3_32k.mpg) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=1000:sample_rate=32000 -t 2 \
            -c:v mpeg2video -b:v 3M -bf 2 -g 12 -c:a ac3 -b:a 128k -ac 2 -f vob "$tmp" ;;
        dvb.ts) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 \
            -c:v mpeg2video -b:v 3M -c:a mp2 -f mpegts "$tmp" ;;
        h264.ts) ff -f lavfi -i "$src" -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 \
            -c:v libx264 -preset ultrafast -c:a ac3 -f mpegts "$tmp" ;;
        tone.mp3) ff -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:a libmp3lame -b:a 128k \
            -f mp3 "$tmp" ;;
        *) echo "unknown stream $name" >&2; return 1 ;;
    esac
    mv "$tmp" "$dst"
}

for n in "${names[@]}"; do make_one "$n"; done
