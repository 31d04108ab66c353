#!/usr/bin/env bash
# zembra config end to end: a program folder without options.ini, the load
# rules, --set and the language file write-back.
set -euo pipefail
zembra=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZEMBRA_PROGRAM_DIR=$work/prog XDG_DOCUMENTS_DIR=$work/docs ZEMBRA_SHUTDOWN_COMMAND=true
mkdir -p "$work/prog/langs"
printf '[Zembra]\nLanguageName=Partial\nSTR_ERROR_19=Halt ?\n' > "$work/prog/langs/English.ini"

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { grep -qxF "$1" "$2" || fail "expected line '$1' in $2"; }

"$zembra" config > "$work/out1"
[ "$(wc -l < "$work/out1")" -eq 76 ] || fail "expected 76 settings, got $(wc -l < "$work/out1")"
expect "Zembra_App.OutputPath=$work/docs/" "$work/out1"
[ -d "$work/docs" ] || fail "documents folder not created"
expect "Zembra_OutputSettings.Width=352" "$work/out1"
expect "Zembra_OutputSettings.MuxRate=1.400000" "$work/out1"
expect "Zembra_OutputSettings.AdaptiveQuant=0" "$work/out1"
expect "Zembra_Lame.Highpass=-1" "$work/out1"
expect "Zembra_InputSettings.AC3Gain=3.000000" "$work/out1"
[ ! -e "$work/prog/options.ini" ] || fail "options.ini written without --set"
expect "LanguageFile=English.ini" "$work/prog/config.ini"
# Every key of the table is written back: as many as the shipped English.ini
# (copied beside the program by the build) holds.
keys=$(grep -c '^STR_' "$work/prog/langs/English.ini")
shipped=$(grep -c '^STR_' "$(dirname "$zembra")/langs/English.ini")
[ "$keys" -eq "$shipped" ] || fail "language file holds $keys keys after one run, not $shipped"
expect "STR_ERROR_19=Halt ?" "$work/prog/langs/English.ini"

printf '[Zembra_OutputSettings]\nWidth=8\nLastOutput=movie.mpg\nMPEGStream=2\n[Zembra_App]\nPrority=7\nThreads=999\n' \
    > "$work/prog/options.ini"
"$zembra" config > "$work/out2"
expect "Zembra_OutputSettings.Width=16" "$work/out2"
expect "Zembra_App.Prority=0" "$work/out2"
expect "Zembra_App.Threads=64" "$work/out2"
expect "Zembra_OutputSettings.LastOutput=movie.avi" "$work/out2"

"$zembra" config --set Zembra_OutputSettings.LastOutput=clip --set Zembra_OutputSettings.MPEGStream=0 \
    --set zembra_lame.BitRate=128 > "$work/out3"
expect "Zembra_OutputSettings.LastOutput=clip.mpg" "$work/out3"
expect "BitRate=128" "$work/prog/options.ini"
expect "LastOutput=clip.mpg" "$work/prog/options.ini"
"$zembra" config > "$work/out4"
expect "Zembra_Lame.BitRate=128" "$work/out4"

if "$zembra" config --set Zembra_OutputSettings.NoSuchKey=1 > /dev/null 2>&1; then
    fail "an unknown key was accepted"
fi
# A word where a number belongs is a usage error, not a silent 0; nothing
# of the run is stored.
for bad in Zembra_OutputSettings.MaxFrames=abc Zembra_OutputSettings.X1=2,5 \
           Zembra_InputSettings.Dolby=yes Zembra_OutputSettings.Width=0x; do
    status=0
    "$zembra" config --set zembra_lame.BitRate=64 --set "$bad" > /dev/null 2>"$work/err" || status=$?
    [ $status -eq 2 ] || fail "--set $bad: exit $status"
    grep -q "number, not" "$work/err" || fail "--set $bad: $(cat "$work/err")"
done
expect "BitRate=128" "$work/prog/options.ini"
"$zembra" config --set Zembra_OutputSettings.MaxFrames=-0x10 --set Zembra_OutputSettings.X1=.25 \
    --set "Zembra_InputSettings.Dolby= 1 " > "$work/out5"
expect "Zembra_OutputSettings.MaxFrames=-16" "$work/out5"
expect "Zembra_OutputSettings.X1=0.250000" "$work/out5"
expect "Zembra_InputSettings.Dolby=1" "$work/out5"
echo "zembra config: all checks passed"
