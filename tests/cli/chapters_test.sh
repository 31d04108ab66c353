#!/usr/bin/env bash
# Chapter ranges: on a title of three chapters of 2.4 s, --chapters 2-2 rips
# the second chapter's length within one frame with as much sound, and
# --split-chapters writes three files whose lengths add up to the title's;
# both to AVI and to MPEG.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-3ch" --seconds 7.2 --no-bframes \
  --chapters 0,0:02.4,0:04.8)
make_workspace

seconds() { ffprobe -v error -select_streams "$2" -show_entries stream=duration -of csv=p=0 "$1"; }

avi() {
  "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --yes --quiet --overwrite --format 2 \
    --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 "$@" </dev/null \
    >"$work/log" 2>&1 || fail "rip $*: $(cat "$work/log")"
}
mpeg() {
  "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --yes --quiet --overwrite \
    --format "VCD PAL Good Quality" "$@" </dev/null >"$work/log" 2>&1 || fail "rip $*: $(cat "$work/log")"
}

avi --name second --chapters 2-2
near "$(frames "$work/out/second.avi")" 60 1 || fail "--chapters 2-2: $(frames "$work/out/second.avi") frames, not 60"
near "$(seconds "$work/out/second.wav" a:0)" 2.4 0.04 || fail "--chapters 2-2: $(seconds "$work/out/second.wav" a:0) s of sound"
mpeg --name second --chapters 2-2
near "$(frames "$work/out/second.mpg")" 60 1 || fail "MPEG --chapters 2-2: $(frames "$work/out/second.mpg") frames"

avi --name whole
total=$(frames "$work/out/whole.avi")
avi --name part --split-chapters
sum=0
for k in 01 02 03; do
  [ -f "$work/out/part_ch$k.avi" ] || fail "--split-chapters wrote no part_ch$k.avi: $(ls "$work/out")"
  sum=$((sum + $(frames "$work/out/part_ch$k.avi")))
done
[ ! -f "$work/out/part_ch04.avi" ] || fail "a fourth chapter file"
near "$sum" "$total" 1 || fail "--split-chapters: $sum frames in all, the title has $total"
mpeg --name mpart --split-chapters
for k in 01 02 03; do
  near "$(frames "$work/out/mpart_ch$k.mpg")" 60 1 || fail "MPEG chapter $k: $(frames "$work/out/mpart_ch$k.mpg") frames"
done

if "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --yes --quiet --chapters 2-4 >"$work/log" 2>&1; then
  fail "--chapters 2-4 of three chapters was taken"
fi
grep -q "the title has 3 chapter" "$work/log" || fail "--chapters 2-4: $(cat "$work/log")"
# A VOB file's chapters are known only when its rip scans it: a range it
# does not have fails the row with a message instead of ripping it whole.
if "$zembra" rip "$disc/VIDEO_TS/VTS_01_1.VOB" --output-dir "$work/out" --yes --quiet --overwrite \
    --format 2 --video-codec 'DIB ' --avi-audio wav --name vobrange --chapters 2-2 >"$work/log" 2>&1; then
  fail "--chapters 2-2 of a one-file VOB row was ripped: $(ls "$work/out")"
fi
grep -q "lies outside its title.* 2-2 (1-1)" "$work/log" || fail "VOB --chapters 2-2: $(cat "$work/log")"
[ ! -f "$work/out/vobrange.avi" ] || fail "VOB --chapters 2-2 left vobrange.avi"
echo "chapter ranges ripped"
