#!/usr/bin/env bash
# The same rip at any thread count. VCD, SVCD and DVD (whole, in pieces, in
# overlapping pieces) and AVI with uncompressed video and WAV or MP3 sound give the
# same bytes at --threads 1, 2, 4 and the default; a scratched disc and a
# full disk in the middle of a rip end at 2 threads with the messages, exit
# status and files of a one-thread rip. A paced decode gives the same frames,
# sound and messages at 1 and 2 threads, from a sound disc and a scratched one.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffprobe
make_workspace
sample=$source/samples/VIDEO_TS

# rip THREADS LIMIT_KB DISC OPTIONS...: the rip's exit status, its messages
# in $work/log (the encoding time left out: it is the one thing threads are
# meant to change) and "md5  name" of every file it wrote in $work/sums.
rip() {
  local threads=$1 limit=$2 disc=$3
  shift 3
  rm -f "$work"/out/*
  local rc=0
  (
    trap '' XFSZ
    [ "$limit" = 0 ] || ulimit -f "$limit"
    exec "$zembra" rip "$disc" --output-dir "$work/out" --name x --yes --quiet --overwrite \
      --threads "$threads" "$@" </dev/null
  ) 2>&1 | sed -E 's/(Total Encoding Time: )[0-9:]+/\1(time)/' >"$work/log" || rc=$?
  (cd "$work/out" && md5sum -- * 2>/dev/null || true) >"$work/sums"
  return $rc
}

# same_at_every_count WHAT DISC OPTIONS...: one set of files at every count.
same_at_every_count() {
  local what=$1 disc=$2
  shift 2
  rip 1 0 "$disc" "$@" || fail "$what, 1 thread: $(cat "$work/log")"
  [ -s "$work/sums" ] || fail "$what: nothing written"
  cp "$work/sums" "$work/sums.1"
  local threads
  for threads in 2 4 0; do
    rip "$threads" 0 "$disc" "$@" || fail "$what, $threads threads: $(cat "$work/log")"
    diff "$work/sums.1" "$work/sums" >/dev/null ||
      fail "$what: other bytes at --threads $threads: $(diff "$work/sums.1" "$work/sums")"
  done
}

same_at_every_count "VCD PAL" "$sample" --format 14
same_at_every_count "SVCD PAL in 1 MB pieces" "$sample" --format 13 --split-size 1
same_at_every_count "DVD PAL" "$sample" --format 12
# Each piece begins a second before the last one ended.
same_at_every_count "SVCD PAL, overlapping 1 MB pieces" "$sample" --format 13 --split-size 1 \
  --overlap -1
[ "$(wc -l <"$work/sums")" -ge 3 ] || fail "overlap: not three pieces: $(cat "$work/sums")"
same_at_every_count "AVI uncompressed + WAV" "$sample" --format 2 --video-codec 'DIB ' \
  --avi-audio wav --width 352 --height 288
[ "$(wc -l <"$work/sums")" = 2 ] || fail "AVI: not one AVI and one WAV file: $(cat "$work/sums")"
# MP3 sound is encoded beside the picture with threads: the same chunks.
if "$zembra" codecs | grep -q "MP3 library: Lame MP3 "; then
  same_at_every_count "AVI uncompressed + MP3" "$sample" --format 2 --video-codec 'DIB ' \
    --avi-audio mp3 --width 352 --height 288
elif [ -n "${CI:-}" ]; then
  fail "no MP3 library"
fi

# decode THREADS SOURCE OPTIONS...: the frames and sound of a paced decode in
# $work/dec.y4m and $work/dec.wav, its messages in $work/log.
decode() {
  local threads=$1 src=$2
  shift 2
  "$zembra" decode "$src" --paced --wav "$work/dec.wav" -o "$work/dec.y4m" --threads "$threads" \
    "$@" >"$work/log" 2>&1
}

# same_decode WHAT SOURCE OPTIONS...: the decoder runs ahead on a thread of
# its own at 2 threads; the frames, sound and messages stay those of 1.
same_decode() {
  local what=$1 src=$2
  shift 2
  local rc1=0 rc2=0
  decode 1 "$src" "$@" || rc1=$?
  local one
  one=$(md5sum <"$work/dec.y4m")$(md5sum <"$work/dec.wav")$(cat "$work/log")
  decode 2 "$src" "$@" || rc2=$?
  [ "$rc1" = "$rc2" ] || fail "$what: decode exit $rc2 at 2 threads, $rc1 at 1"
  [ "$one" = "$(md5sum <"$work/dec.y4m")$(md5sum <"$work/dec.wav")$(cat "$work/log")" ] ||
    fail "$what: the decode differs at 2 threads: $(cat "$work/log")"
}
same_decode "decode, scaled" "$sample" --width 352 --height 288 --deinterlace 1

# same_end WHAT LIMIT_KB DISC OPTIONS...: 2 threads end as 1 does.
same_end() {
  local what=$1 limit=$2 disc=$3
  shift 3
  local rc1=0 rc2=0
  rip 1 "$limit" "$disc" "$@" || rc1=$?
  cp "$work/log" "$work/log.1"
  cp "$work/sums" "$work/sums.1"
  rip 2 "$limit" "$disc" "$@" || rc2=$?
  [ "$rc1" = "$rc2" ] || fail "$what: exit $rc2 at 2 threads, $rc1 at 1: $(cat "$work/log")"
  diff "$work/log.1" "$work/log" >/dev/null ||
    fail "$what: other messages at 2 threads: $(diff "$work/log.1" "$work/log")"
  diff "$work/sums.1" "$work/sums" >/dev/null ||
    fail "$what: other files at 2 threads: $(diff "$work/sums.1" "$work/sums")"
}

# A full disk half-way through the title, and at a piece's end.
rip 1 0 "$sample" --format 13 || fail "SVCD: $(cat "$work/log")"
whole=$(stat -c %s "$work/out/x.mpg")
same_end "SVCD onto a full disk" $((whole / 2 / 1024)) "$sample" --format 13
grep -q "Unable to write" "$work/log" || fail "full disk: the write failure was not said"
same_end "SVCD pieces onto a full disk" $((whole * 3 / 4 / 1024)) "$sample" --format 13 \
  --split-size 1

# A scratched disc: sectors 700-719 of its image cannot be read.
faults=$build/test-faults/libpread_faults.so
have_iso_tools=1
for tool in ffmpeg dvdauthor genisoimage; do command -v $tool >/dev/null || have_iso_tools=0; done
if [ -f "$faults" ] && [ $have_iso_tools = 1 ]; then
  disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-scratched" --seconds 8 --iso)
  export ZEMBRA_BAD_SECTORS=700-719 LD_PRELOAD=$faults
  same_end "scratched disc" 0 "$disc/disc.iso" --format 13
  grep -q "Sectors skipped" "$work/log" || fail "scratched disc: no word of the skipped sectors"
  same_decode "decode of a scratched disc" "$disc/disc.iso"
  same_end "scratched disc, AVI" 0 "$disc/disc.iso" --format 2 --video-codec 'DIB ' \
    --avi-audio wav --width 176 --height 144
  unset ZEMBRA_BAD_SECTORS LD_PRELOAD
elif [ -n "${CI:-}" ] && [ $have_iso_tools = 0 ]; then
  fail "ffmpeg, dvdauthor or genisoimage missing"
fi
echo "rip_threads: all passed"
