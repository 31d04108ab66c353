#!/usr/bin/env bash
# The main feature: on a title set with a short and a long title, scan marks
# the long one "main title", a rip with --title main rips it, and a rip
# without --title takes it too (the window selects it after Open DVD); extract
# takes --title main as rip does.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-short-long" --two-pgc --seconds 2 --seconds2 4)
make_workspace


"$zembra" scan "$disc" >"$work/scan" || fail "scan: $(cat "$work/scan")"
grep -q '^  \[01\] Length:00:00:04 .*main title' "$work/scan" || fail "scan: $(cat "$work/scan")"
grep -c 'main title' "$work/scan" | grep -qx 1 || fail "scan marks more than one: $(cat "$work/scan")"

rip() {
  "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --yes --quiet --overwrite --format 2 \
    --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 "$@" </dev/null \
    >"$work/log" 2>&1 || fail "rip $*: $(cat "$work/log")"
}
rip --name main --title main
[ "$(frames "$work/out/main.avi")" = 100 ] || fail "--title main: $(frames "$work/out/main.avi") frames, not 100"
rip --name first --title 0
[ "$(frames "$work/out/first.avi")" = 50 ] || fail "--title 0: $(frames "$work/out/first.avi") frames, not 50"
rip --name default
[ "$(frames "$work/out/default.avi")" = 100 ] || fail "no --title: $(frames "$work/out/default.avi") frames, not 100"
"$zembra" extract "$disc" --title main -o "$work/main.vob" >"$work/log" 2>&1 ||
  fail "extract --title main: $(cat "$work/log")"
"$zembra" extract "$disc" --title 1 -o "$work/second.vob" >/dev/null 2>&1
cmp -s "$work/main.vob" "$work/second.vob" || fail "extract --title main copied another title"
echo "main title chosen"
