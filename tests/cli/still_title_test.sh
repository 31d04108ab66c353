#!/usr/bin/env bash
# A title that is one still picture with ten seconds of 5.1 AC-3 (a menu, a
# slide or an audio-only title of a real disc): decode, the audio-only decode,
# the AVI rip and the SVCD rip keep the whole sound and show the picture for
# all of it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-still" --still --seconds 10 --ac3-51)
make_workspace

duration() { ffprobe -v error -select_streams "$2" -show_entries stream=duration -of csv=p=0 "$1"; }
# at_least VALUE MIN: VALUE >= MIN (decimals)
at_least() { awk -v v="$1" -v m="$2" 'BEGIN { exit !(v + 0 >= m + 0) }'; }

"$zembra" decode "$disc" --frames 3 -o "$work/pictures.y4m" >"$work/log" 2>&1 || fail "decode: $(cat "$work/log")"
[ "$(grep -c FRAME "$work/pictures.y4m")" -ge 1 ] || fail "decode gave no picture"

"$zembra" decode "$disc" --audio-only --downsampling 4 -o "$work/sound.wav" >"$work/log" 2>&1 ||
  fail "audio-only decode: $(cat "$work/log")"
grep -q "Error" "$work/log" && fail "audio-only decode: $(cat "$work/log")"
at_least "$(duration "$work/sound.wav" a:0)" 9.8 || fail "audio-only decode kept $(duration "$work/sound.wav" a:0) s of 10"

rip() { "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --yes --quiet --overwrite "$@" </dev/null; }
rip --name avi --format 2 --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 >"$work/log" 2>&1 ||
  fail "AVI rip: $(cat "$work/log")"
at_least "$(duration "$work/out/avi.avi" v:0)" 9.8 || fail "AVI rip: $(duration "$work/out/avi.avi" v:0) s of pictures"
at_least "$(duration "$work/out/avi.wav" a:0)" 9.8 || fail "AVI rip: $(duration "$work/out/avi.wav" a:0) s of sound"

rip --name svcd --format "SVCD PAL Great Quality" >"$work/log" 2>&1 || fail "SVCD rip: $(cat "$work/log")"
at_least "$(duration "$work/out/svcd.mpg" v:0)" 9.8 || fail "SVCD rip: $(duration "$work/out/svcd.mpg" v:0) s of pictures"
at_least "$(duration "$work/out/svcd.mpg" a:0)" 9.8 || fail "SVCD rip: $(duration "$work/out/svcd.mpg" a:0) s of sound"
echo "still title: decoded and ripped whole"
