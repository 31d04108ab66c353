#!/usr/bin/env bash
# A rip holds the whole title, the fraction after its last whole second
# included: a DVD title of 2.52 s (its IFO time holds frames), a loose
# program stream of 1.48 s and an MPEG-1 file of 6.04 s whose first time
# stamp is 1.0 s, each ripped at 25 frames a second to AVI and WAV.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-2.52s" --seconds 2.52 --no-bframes)
streams=$build/test-streams
"$source/tools/make-test-streams.sh" "$streams" short_ps.mpg late_mpeg1.mpg
make_workspace

seconds() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
near() { awk -v v="$1" -v w="$2" 'BEGIN { d = v - w; exit !(d < 0.021 && d > -0.021) }'; }

# check NAME SOURCE FRAMES: the AVI holds FRAMES pictures, the WAV as long.
check() {
  "$zembra" rip "$2" --output-dir "$work/out" --name "$1" --yes --quiet --overwrite --format 2 \
    --video-codec 'DIB ' --avi-audio wav --width 352 --height 288 --fps-index 2 </dev/null \
    >"$work/log" 2>&1 || fail "$1: $(cat "$work/log")"
  local got
  got=$(frames "$work/out/$1.avi")
  [ "$got" = "$3" ] || fail "$1: $got pictures, not $3"
  near "$(seconds "$work/out/$1.wav")" "$(awk -v n="$3" 'BEGIN { print n / 25 }')" ||
    fail "$1: $(seconds "$work/out/$1.wav") s of sound for $3 pictures"
}
check title "$disc/VIDEO_TS" 63
check short "$streams/short_ps.mpg" 37
check late "$streams/late_mpeg1.mpg" 151
echo "exact lengths kept"
