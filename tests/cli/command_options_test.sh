#!/usr/bin/env bash
# The commands share one set of options: decode and encode start from the
# stored settings as rip does and their options override them for the run
# (kept only with --save); --subtitle 1 burns in the first subtitle in rip
# and in decode; options of the other kind of output are refused with the
# fix; --list prints a list in the current language, whose texts the list
# options take; every command refuses a mistake with status 2.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor spumux
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-subs" --pal --subs 2 --seconds 3)
make_workspace

setting() { "$zembra" config | grep -x "$1=.*" | cut -d= -f2-; }
store() { for s in "$@"; do "$zembra" config --set "$s" >/dev/null; done; }
y4m_rate() { head -n 1 "$1" | tr ' ' '\n' | grep '^F'; }

# --- decode: the stored frame rate and AC-3 gain, options for this run only.
store Zembra_InputSettings.FrameRate=2
"$zembra" decode "$disc" --paced --frames 2 -o "$work/a.y4m" 2>/dev/null
[ "$(y4m_rate "$work/a.y4m")" = F25:1 ] || fail "decode ignored the stored frame rate"
"$zembra" decode "$disc" --fps-index "29.97 (NTSC)" --frames 2 -o "$work/a.y4m" 2>/dev/null
[ "$(y4m_rate "$work/a.y4m")" = F30000:1001 ] || fail "decode --fps-index did not override"
[ "$(setting Zembra_InputSettings.FrameRate)" = 2 ] || fail "decode saved without --save"
"$zembra" decode "$disc" --fps-index 0 --save --frames 1 -o "$work/a.y4m" 2>/dev/null
[ "$(setting Zembra_InputSettings.FrameRate)" = 0 ] || fail "decode --save did not keep --fps-index"

sound() { "$zembra" decode "$disc" --audio-only "$@" -o "$work/s.wav" 2>/dev/null; md5sum <"$work/s.wav"; }
store Zembra_InputSettings.AC3Gain=1.0
quiet_gain=$(sound)
loud_gain=$(sound --ac3-gain 3)
store Zembra_InputSettings.AC3Gain=3.0
[ "$(sound)" = "$loud_gain" ] || fail "decode --ac3-gain 3 differs from a stored gain of 3"
[ "$quiet_gain" != "$loud_gain" ] || fail "decode ignored the stored AC-3 gain"

# --- encode: the stored format and MPEG settings, --format over them.
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -frames:v 4 -pix_fmt yuv420p "$work/v.y4m"
probe() { ffprobe -v error -select_streams v -show_entries stream=codec_name,width -of csv=p=0 "$1" | cut -d, -f1,2; }
store Zembra_OutputSettings.StreamTypeSelected=13 Zembra_OutputSettings.MPEGStream=1
"$zembra" encode "$work/v.y4m" -o "$work/stored.mpg" --quiet
[ "$(probe "$work/stored.mpg")" = mpeg2video,480 ] || fail "encode ignored the stored SVCD format"
"$zembra" encode "$work/v.y4m" --format "vcd pal good quality" -o "$work/vcd.mpg" --quiet
[ "$(probe "$work/vcd.mpg")" = mpeg1video,352 ] || fail "encode --format did not override"
[ "$(setting Zembra_OutputSettings.StreamTypeSelected)" = 13 ] || fail "encode saved the format"
store Zembra_OutputSettings.StreamTypeSelected=2 Zembra_OutputSettings.MPEGStream=2
rc=0
"$zembra" encode "$work/v.y4m" -o "$work/avi.mpg" 2>"$work/log" || rc=$?
[ "$rc" = 2 ] && grep -q "is not an MPEG format" "$work/log" || fail "stored AVI format: $rc $(cat "$work/log")"
[ ! -e "$work/avi.mpg" ] || fail "encode wrote with a stored AVI format"

# --- options of the other kind of output are refused, with the fix.
# refused MESSAGE OPTIONS...: rip ends with status 2 and MESSAGE, writes nothing.
refused() {
  local message=$1 rc=0
  shift
  rm -rf "$work/out"
  "$zembra" rip "$disc" --output-dir "$work/out" --yes --quiet "$@" </dev/null >"$work/log" 2>&1 || rc=$?
  [ "$rc" = 2 ] || fail "$*: exit status $rc, not 2: $(cat "$work/log")"
  grep -qF -- "$message" "$work/log" || fail "$*: no '$message' in: $(cat "$work/log")"
  [ -z "$(ls -A "$work/out" 2>/dev/null)" ] || fail "$*: wrote $(ls "$work/out")"
}
refused "--motion-search applies to MPEG output; choose an MPEG --format" --motion-search 2
store Zembra_OutputSettings.StreamTypeSelected=0 Zembra_OutputSettings.MPEGStream=0
refused "--video-codec applies to AVI output; choose --format 2 (AVI)" --video-codec XVID
refused "--avi-audio applies to AVI output; choose --format 2 (AVI)" --format 14 --avi-audio mp3
refused "--mp3-bitrate applies to AVI output" --mp3-bitrate 128
# An MP3 rate the stream cannot have at 44.1 or 48 kHz (LAME would make 32
# kbit/s of 8 while the AVI's format record said 8).
for rate in 8 100; do
  refused "--mp3-bitrate takes 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256 or 320, not '$rate'" \
    --format 2 --mp3-bitrate $rate
done
refused "--motion-search applies to MPEG output" --format 2 --motion-search 2

# --- --subtitle 1 is the first subtitle of the Subtitle list, in rip and in
# decode: its white box (rows 476-515 of 576) is drawn, the second's (416-455) not.
at_one_second() { "$zembra" decode "$disc" --frames 26 --fps-index 2 --zoom 3 "$@" -o - 2>/dev/null |
  ffmpeg -v error -f yuv4mpegpipe -i - -vf "select=eq(n\,25)" -frames:v 1 -f rawvideo -y \
    -pix_fmt gray "$work/f.gray"; }
gray() { od -An -tu1 -j $(($2 * 720 + $1)) -N1 "$work/f.gray" | tr -d ' '; }
at_one_second --subtitle 1
[ "$(gray 360 495)" -gt 200 ] && [ "$(gray 360 435)" -lt 200 ] ||
  fail "decode --subtitle 1: first box $(gray 360 495), second $(gray 360 435)"
at_one_second --subtitle 2
[ "$(gray 360 435)" -gt 200 ] || fail "decode --subtitle 2 drew no second box"
at_one_second --subtitle 0
[ "$(gray 360 495)" -lt 200 ] || fail "decode --subtitle 0 drew a subtitle"

rip_at_one_second() {
  rm -rf "$work/out"
  "$zembra" rip "$disc" --format 14 --zoom 3 --output-dir "$work/out" --name r --yes --quiet "$@" \
    </dev/null >"$work/log" 2>&1 || fail "rip $*: $(cat "$work/log")"
  ffmpeg -v error -i "$work/out/r.mpg" -vf "select=eq(n\,25),scale=720:576" -frames:v 1 \
    -f rawvideo -pix_fmt gray -y "$work/f.gray"
}
rip_at_one_second --subtitle 1
[ "$(gray 360 495)" -gt 180 ] && [ "$(gray 360 435)" -lt 180 ] ||
  fail "rip --subtitle 1: first box $(gray 360 495), second $(gray 360 435)"
rip_at_one_second --subtitle 0
[ "$(gray 360 495)" -lt 180 ] || fail "rip --subtitle 0 drew a subtitle"

# --- --list: the entries in the current language, whose texts the options take.
printf '[Zembra]\nLanguageFile=Deutsch.ini\n' >"$work/prog/config.ini"
"$zembra" rip --list formats >"$work/list"
[ "$(wc -l <"$work/list")" = 15 ] || fail "--list formats: $(cat "$work/list")"
grep -qx " 0  Eigenes MPEG1" "$work/list" || fail "--list formats not in German: $(cat "$work/list")"
grep -qx "14  VCD PAL Gute Qualität" "$work/list" || fail "--list formats: $(cat "$work/list")"
[ "$("$zembra" decode --list zoom | wc -l)" = 5 ] || fail "decode --list zoom"
refused "--video-codec applies to AVI output" --format "VCD PAL Gute Qualität" --video-codec XVID
refused "--format takes 0 to 14 or an entry's text, not 'VCD PAL Good Quality'" \
  --format "VCD PAL Good Quality"
rc=0
"$zembra" rip --list nothing >/dev/null 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "--list nothing gave $rc"

# --- every command: --help lists its options, a mistake is status 2.
for command in rip decode encode extract scan config codecs audio-decode; do
  # Into a file: grep -q leaving a pipe early would end a longer help with SIGPIPE.
  "$zembra" $command --help >"$work/help" || fail "$command --help: status $?"
  grep -q -- "--help" "$work/help" || fail "$command --help"
  rc=0
  "$zembra" $command --no-such-option >/dev/null 2>"$work/log" || rc=$?
  [ "$rc" = 2 ] && grep -q "unknown option --no-such-option" "$work/log" ||
    fail "$command --no-such-option: $rc $(cat "$work/log")"
done
"$zembra" decode --help | grep -q -- "--no-detect24" || fail "decode --help lacks --no-detect24"
# --angle: a position in the Angle list ("All", 1 to 16) in each command
# that reads a title.
for command in "rip --output-dir $work/out" "decode -o $work/x.y4m"; do
  rc=0
  "$zembra" $command "$disc" --angle 17 >/dev/null 2>"$work/log" || rc=$?
  [ "$rc" = 2 ] && grep -q -- "--angle takes 0 to 16, not 17" "$work/log" ||
    fail "$command --angle 17: $rc $(cat "$work/log")"
done
"$zembra" decode "$disc" --angle 1 --frames 1 -o "$work/a.y4m" 2>/dev/null || fail "decode --angle 1"

# --- --threads: the same flag in rip, decode and encode, over the stored
# count for one run, kept with --save, refused beyond its range.
store Zembra_App.Threads=3
for command in rip decode encode; do
  "$zembra" $command --help >"$work/help" || fail "$command --help: status $?"
  grep -q -- "--threads N" "$work/help" || fail "$command --help lacks --threads"
  rc=0
  "$zembra" $command --threads 65 x >/dev/null 2>"$work/log" || rc=$?
  [ "$rc" = 2 ] && grep -q -- "--threads" "$work/log" || fail "$command --threads 65: $rc"
done
"$zembra" decode "$disc" --threads 1 --frames 1 -o "$work/a.y4m" 2>/dev/null
[ "$(setting Zembra_App.Threads)" = 3 ] || fail "decode --threads saved without --save"
"$zembra" encode "$work/v.y4m" --format 14 --threads 2 --save -o "$work/t.mpg" --quiet
[ "$(setting Zembra_App.Threads)" = 2 ] || fail "encode --save did not keep --threads"
echo "command options: all checks passed"
