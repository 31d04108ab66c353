#!/usr/bin/env bash
# zembra rip's option checks: values the rip cannot carry out are refused
# before anything is written, with the range that is allowed, and absurd
# values stored in options.ini are brought back to sane ones when loaded.
set -euo pipefail
. "$(dirname "$0")/common.sh"
make_workspace
disc=$source/samples/VIDEO_TS


# rip OPTIONS...: a VCD rip of the sample into an empty output folder; the
# exit status, with the messages in $work/log.
rip() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  local rc=0
  "$zembra" rip "$disc" --format 14 --output-dir "$work/out" --yes --quiet "$@" </dev/null \
    >"$work/log" 2>&1 || rc=$?
  return $rc
}

# refused MESSAGE OPTIONS...: usage error 2 with MESSAGE, nothing written.
refused() {
  local message=$1 rc=0
  shift
  rip "$@" || rc=$?
  [ "$rc" = 2 ] || fail "$*: exit status $rc, not 2: $(cat "$work/log")"
  grep -qF -- "$message" "$work/log" || fail "$*: no '$message' in: $(cat "$work/log")"
  [ -z "$(ls -A "$work/out")" ] || fail "$*: wrote $(ls "$work/out")"
}

setting() { "$zembra" config | grep -x "$1=.*" | cut -d= -f2-; }

# --- split: a size of 0 or below, or a mode outside the list.
refused "--split-size needs at least 1, not 0" --split-size 0
refused "--split-size needs at least 1, not -5" --split-size -5
refused "--split takes 0 to 5, not 6" --split 6
refused "--split takes 0 to 5, not -1" --split -1
printf '[Zembra_OutputSettings]\nSplitMode=9\nVolume=0\n' >"$work/prog/options.ini"
[ "$(setting Zembra_OutputSettings.SplitMode)" = 5 ] || fail "SplitMode=9 not brought back to 5"
[ "$(setting Zembra_OutputSettings.Volume)" = 730 ] || fail "Volume=0 not brought back to 730"
rip --name x || fail "rip with the stored split values failed: $(cat "$work/log")"
[ "$(ls "$work/out")" = x.mpg ] || fail "stored split values made $(ls "$work/out" | wc -l) files"
printf '[Zembra_OutputSettings]\nSplitMode=-2\nVolume=-730\n' >"$work/prog/options.ini"
[ "$(setting Zembra_OutputSettings.SplitMode)" = 5 ] || fail "SplitMode=-2 not brought back to 5"
[ "$(setting Zembra_OutputSettings.Volume)" = 730 ] || fail "Volume=-730 not brought back to 730"
rm "$work/prog/options.ini"

# --- output sizes: below a macroblock, or beyond what any output carries
# (2147483647 ended the program with std::bad_alloc; 100000 wrote an
# unreadable file after two minutes; -16 and 0 gave 16-pixel video).
for width in 2147483647 100000 16384 15 0 -16; do
  refused "--width takes 16 to 16383, not $width" --width "$width"
done
refused "--height takes 16 to 16383, not 65536" --height 65536
# MPEG-1 states at most 4095 pixels a side: refused before a file is made.
rc=0
rip --name big --format 0 --width 4096 --height 288 || rc=$?
[ "$rc" = 1 ] || fail "MPEG-1 4096 wide: exit status $rc, not 1: $(cat "$work/log")"
grep -q "too large for this format" "$work/log" || fail "MPEG-1 4096 wide: no message"
[ -z "$(ls -A "$work/out")" ] || fail "MPEG-1 4096 wide: wrote $(ls "$work/out")"
# Stored sizes are brought into that range when loaded, also after --set.
printf '[Zembra_OutputSettings]\nWidth=65536\nHeight=-16\n' >"$work/prog/options.ini"
[ "$(setting Zembra_OutputSettings.Width)" = 16383 ] || fail "Width=65536 not brought to 16383"
[ "$(setting Zembra_OutputSettings.Height)" = 16 ] || fail "Height=-16 not brought to 16"
"$zembra" config --set Zembra_OutputSettings.Height=2147483647 >/dev/null
[ "$(setting Zembra_OutputSettings.Height)" = 16383 ] || fail "--set Height=2147483647 kept"
rm "$work/prog/options.ini"

# --- list positions beyond the lists (--title 99 ripped title 0, --audio
# 99 audio 0, --fps-index 99 at 24 fps): refused with the range there is.
refused "--title takes 0 to 0, not 99" --title 99
refused "--audio takes 0 to 0, not 99" --audio 99
refused "--subtitle takes 0 to 1, not -1" --subtitle -1
refused "--fps-index takes 0 to 4, not 99" --fps-index 99
refused "--zoom takes 0 to 4, not 5" --zoom 5
refused "--resize takes 0 to 13, not 14" --resize 14

# --- a name is a file name in the output folder, never a way out of it.
refused "--name takes a file name without a folder, not '../../x'" --name ../../x
refused "--name takes a file name without a folder, not 'a/b'" --name a/b
[ ! -e "$work/x.mpg" ] && [ ! -e "$work/../x.mpg" ] || fail "--name ../../x wrote outside"

# --- "--" ends the options: a source may start with '-'.
ln -s "$disc" "$work/-disc"
rc=0
(cd "$work" && "$zembra" rip --format 14 --output-dir out --name dash --yes --quiet -- -disc) \
  >"$work/log" 2>&1 || rc=$?
[ "$rc" = 0 ] && [ -s "$work/out/dash.mpg" ] || fail "-- did not end the options: $(cat "$work/log")"

# --- --overwrite takes the place of files, never of a folder standing there.
mkdir -p "$work/out/x.avi"
rc=0
"$zembra" rip "$disc" --format 2 --video-codec "DIB " --avi-audio none --output-dir "$work/out" \
  --name x --yes --quiet --overwrite </dev/null >"$work/log" 2>&1 || rc=$?
[ -d "$work/out/x.avi" ] || fail "--overwrite removed the folder x.avi"
[ "$rc" = 1 ] || fail "a folder where the file goes: exit status $rc, not 1: $(cat "$work/log")"

# --- an options.ini that cannot be read is said, once; the defaults are used.
rm -rf "$work/prog/options.ini"
mkdir "$work/prog/options.ini"
rip --name x >/dev/null || fail "rip with an unreadable options.ini failed: $(cat "$work/log")"
[ "$(grep -c "cannot read $work/prog/options.ini" "$work/log")" = 1 ] ||
  fail "the unreadable options.ini was not said once: $(cat "$work/log")"
"$zembra" config >"$work/config" 2>"$work/log"
[ "$(grep -c "cannot read" "$work/log")" = 1 ] || fail "zembra config did not say it once"
grep -qx "Zembra_OutputSettings.Width=352" "$work/config" || fail "config: not the defaults"
rmdir "$work/prog/options.ini"

# An output folder that cannot be made: said once, exit 1, and no closing
# monitor line (it would only name the source).
rc=0
"$zembra" rip "$disc" --format 14 --output-dir /proc/zembra-out --quiet </dev/null \
  >"$work/log" 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "unmakeable output folder: exit $rc"
grep -q "^Error: /proc/zembra-out/Can not Find The Output Directory.$" "$work/log" &&
  ! grep -q "VTS_01_0.IFO" "$work/log" || fail "unmakeable output folder said: $(cat "$work/log")"

echo "rip_options: all passed"
