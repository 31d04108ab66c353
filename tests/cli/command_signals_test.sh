#!/usr/bin/env bash
# zembra encode and decode stopped in the middle by Ctrl-C, SIGTERM or
# SIGHUP: each stops between pictures, closes what it wrote
# (a program stream with its end code, whole YUV4MPEG2 frames, a WAV header
# that counts the samples written) and exits with 128 + the signal, as rip
# does. The engines' message pump takes Ctrl-C too, so a press it took must
# still stop the command (decode ran to the end when it had threads).
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-20s" --seconds 20 --bitrate 1500k)
make_workspace
export HOME=$work
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# stop SIGNAL FILE BYTES COMMAND...: runs COMMAND, sends SIGNAL once FILE holds
# BYTES; the command's exit status.
stop() {
  local signal=$1 file=$2 bytes=$3
  shift 3
  rm -f "$file"
  "$@" </dev/null >"$work/log" 2>&1 &
  pid=$!
  signal_when_grown "$signal" "$file" "$bytes"
}
expect() {  # WHAT STATUS RC
  [ "$3" = "$2" ] || fail "$1: exit status $3, not $2: $(cat "$work/log")"
}
clean() {  # WHAT FILE: decodes to its end without an error line
  local errors
  errors=$(ffmpeg -nostdin -v error -i "$2" -f null - 2>&1)
  [ -z "$errors" ] || fail "$1: $2 does not decode cleanly: $errors"
}

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -frames:v 300 \
  -pix_fmt yuv420p "$work/in.y4m"
rc=0
stop TERM "$work/e.mpg" 400000 "$zembra" encode "$work/in.y4m" --format 12 -o "$work/e.mpg" \
  --quiet --overwrite --threads 1 || rc=$?
expect "encode TERM" 143 "$rc"
clean "encode TERM" "$work/e.mpg"
[ "$(tail -c 4 "$work/e.mpg" | od -An -tx1 | tr -d ' \n')" = 000001b9 ] ||
  fail "encode TERM: the program stream has no end code"

for threads in 1 2; do
  for signal in INT HUP; do
    rc=0
    stop $signal "$work/d.y4m" 20000000 "$zembra" decode "$disc/VIDEO_TS" --paced --threads $threads \
      -o "$work/d.y4m" --wav "$work/d.wav" || rc=$?
    expect "decode $signal, $threads threads" $([ $signal = INT ] && echo 130 || echo 129) "$rc"
    clean "decode $signal" "$work/d.y4m"
    frames=$(frames "$work/d.y4m")
    [ "$frames" -lt 500 ] || fail "decode $signal, $threads threads: ran to the end ($frames frames)"
    seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/d.wav")
    awk -v s="$seconds" -v f="$frames" 'BEGIN { exit !(s > 0 && s < f / 25 + 2) }' ||
      fail "decode $signal: the WAV says $seconds s for $frames frames"
  done
done

echo "command_signals: all passed"
