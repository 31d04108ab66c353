#!/usr/bin/env bash
# The main feature: on a title set with a short and a long title, scan marks
# the long one "main title", a rip with --title main rips it, and a rip
# without --title takes it too (the window selects it after Open DVD).
set -euo pipefail
zembra=$1 source=$2 build=$3
for tool in ffmpeg ffprobe dvdauthor; do
  command -v $tool >/dev/null || { [ -n "${CI:-}" ] && { echo "$tool missing" >&2; exit 1; }; exit 77; }
done
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-short-long" --two-pgc --seconds 2 --seconds2 4)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/out"
cp -r "$source/langs" "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog XDG_DOCUMENTS_DIR=$work/docs ZEMBRA_SHUTDOWN_COMMAND=true

fail() { echo "FAIL: $*" >&2; exit 1; }
frames() { ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }

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
echo "main title chosen"
