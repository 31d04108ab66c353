#!/usr/bin/env bash
# zembra rip stopped by SIGTERM (a service stop) or SIGHUP (a logout) in the
# middle of its first row: it stops as a Ctrl-C without a terminal does, the
# file written so far is closed properly (the MPEG program end, the AVI
# index and frame count), the next row never starts, and the status is
# 128 + the signal.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-20s" --seconds 20 --bitrate 1500k)
make_workspace
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# stop SIGNAL FILE OPTIONS...: rips the disc twice (two rows) and sends
# SIGNAL once FILE holds a few megabytes; the rip's exit status.
stop() {
  local signal=$1 file=$work/out/$2
  shift 2
  rm -f "$work"/out/*
  "$zembra" rip "$disc/VIDEO_TS" "$disc/VIDEO_TS" --output-dir "$work/out" --name x --yes \
    --overwrite "$@" </dev/null >"$work/log" 2>&1 &
  pid=$!
  signal_when_grown "$signal" "$file" 3000000
}

# What every stopped rip shows: the status, an orderly end (the summary
# line), only the first row's files, and the file decoding without error.
expect_stopped() {
  local signal=$1 status=$2 rc=$3 file=$work/out/$4 frames
  [ "$rc" = "$status" ] || fail "$signal: exit status $rc, not $status: $(cat "$work/log")"
  grep -q "zembra rip: 0 of 2 title(s) ripped" "$work/log" ||
    fail "$signal: killed rather than stopped: $(cat "$work/log")"
  ! ls "$work"/out/x_1.* >/dev/null 2>&1 || fail "$signal: the second row was started"
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$file" | head -1)
  [ "$frames" -gt 10 ] && [ "$frames" -lt 490 ] || fail "$signal: $frames pictures in $file"
  errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
  [ -z "$errors" ] || fail "$signal: $file does not decode cleanly: $errors"
}

rc=0
stop TERM x_0.mpg --format 12 || rc=$?
expect_stopped TERM 143 "$rc" x_0.mpg
# The program stream ends with its end code.
[ "$(tail -c 4 "$work/out/x_0.mpg" | od -An -tx1 | tr -d ' \n')" = 000001b9 ] ||
  fail "TERM: the MPEG file has no program end"

rc=0
stop HUP x_0.avi --format 2 --video-codec "DIB " --export rgb24 --avi-audio wav --width 352 \
  --height 288 || rc=$?
expect_stopped HUP 129 "$rc" x_0.avi
# The header's frame count was written at close.
header=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames \
  -of default=nw=1:nk=1 "$work/out/x_0.avi" | head -1)
[ "$header" -gt 10 ] || fail "HUP: the AVI header counts $header frames"
echo "rip_signals: all passed"
