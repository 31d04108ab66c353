#!/usr/bin/env bash
# Read errors on a scratched disc: with the sectors 700-719 of a disc image
# unreadable (a preloaded fault-injecting reader), the rip skips them, ends
# with a line that says how many sectors were skipped and where in the
# playing time, writes the file and exits 0. A whole image rips without it.
# zembra decode skips them as the rip does, or fails where it cannot. An
# image cut short inside the title cannot be got past: the rip keeps what it
# wrote but does not count the title as ripped, and exits 1, as decode does.
set -euo pipefail
. "$(dirname "$0")/common.sh"
faults=$build/test-faults/libpread_faults.so
# The sanitizer build leaves the shim out (it could not be preloaded before
# the sanitizer's runtime); the plain build runs this test.
[ -f "$faults" ] || { echo "pread_faults not built: skipped" >&2; exit 77; }
require_tools ffmpeg ffprobe dvdauthor genisoimage
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-scratched" --seconds 8 --iso)
make_workspace

rip() {
  "$zembra" rip "$disc/disc.iso" --output-dir "$work/out" --yes --quiet --overwrite --format 2 \
    --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 "$@" </dev/null
}

rip --name whole >"$work/log" 2>&1 || fail "whole: $(cat "$work/log")"
grep -q "Sectors skipped" "$work/log" && fail "whole image: $(cat "$work/log")"
whole=$(frames "$work/out/whole.avi")

# The image's sectors: the VOB starts some way in; 700-719 lie inside it.
ZEMBRA_BAD_SECTORS=700-719 LD_PRELOAD=$faults rip --name scratched >"$work/log" 2>&1 ||
  fail "scratched: exit $?: $(cat "$work/log")"
grep -q "Sectors skipped, and the playing times where: [0-9][0-9]* (00:00:0[0-9]" "$work/log" ||
  fail "no word of the skipped sectors: $(cat "$work/log")"
[ -s "$work/out/scratched.avi" ] || fail "no file written"
got=$(frames "$work/out/scratched.avi")
[ "$got" -gt 0 ] && [ "$got" -le "$whole" ] || fail "scratched: $got frames of $whole"

# zembra decode reads as the rip does: its paced frames skip the same sectors
# with the same warning and end in success; the decoder's own pictures end
# at the bad sectors, which is a failure, not a short title.
export ZEMBRA_BAD_SECTORS=700-719 LD_PRELOAD=$faults
"$zembra" decode "$disc/disc.iso" --paced --fps-index 2 --width 352 --height 288 \
  -o "$work/paced.y4m" >"$work/decode.log" 2>&1 || fail "paced decode: exit $?: $(cat "$work/decode.log")"
grep -q "Sectors skipped, and the playing times where: [0-9]" "$work/decode.log" ||
  fail "paced decode: no word of the skipped sectors: $(cat "$work/decode.log")"
[ "$(frames "$work/paced.y4m")" = "$got" ] ||
  fail "paced decode: $(frames "$work/paced.y4m") frames, the rip $got"
rc=0
"$zembra" decode "$disc/disc.iso" -o "$work/pictures.y4m" >"$work/decode.log" 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "picture decode over a read error: exit $rc: $(cat "$work/decode.log")"
grep -q "Unable to read" "$work/decode.log" || fail "picture decode: the read error was not said"
unset ZEMBRA_BAD_SECTORS LD_PRELOAD

size=$(stat -c %s "$disc/disc.iso")
head -c $((size * 3 / 5)) "$disc/disc.iso" >"$work/cut.iso"
rc=0
"$zembra" rip "$work/cut.iso" --output-dir "$work/out" --yes --quiet --overwrite --format 2 \
  --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 --name cut \
  </dev/null >"$work/cut.log" 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "rip of a cut image: exit $rc: $(cat "$work/cut.log")"
grep -q "0 of 1 title" "$work/cut.log" || fail "a cut image counted as ripped: $(cat "$work/cut.log")"
cut=$(frames "$work/out/cut.avi")
[ "$cut" -gt 0 ] && [ "$cut" -lt "$whole" ] || fail "cut image: $cut frames kept of $whole"
for threads in 1 2; do
  rc=0
  "$zembra" decode "$work/cut.iso" --threads $threads --paced --fps-index 2 --width 352 \
    --height 288 -o "$work/cut.y4m" >"$work/decode.log" 2>&1 || rc=$?
  [ "$rc" = 1 ] || fail "paced decode of a cut image, $threads threads: exit $rc"
done

echo "read errors reported: $(grep -o 'where: .*' "$work/log")"
