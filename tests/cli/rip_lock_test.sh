#!/usr/bin/env bash
# Two rips into the same output file at once: the second is refused with a
# message (exit 1) and the first, held still meanwhile, goes on to write a
# whole file of its own, for MPEG and AVI output alike.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg ffprobe dvdauthor
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-20s" --seconds 20 --bitrate 1500k)
make_workspace
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

rip() {
  exec "$zembra" rip "$disc/VIDEO_TS" --output-dir "$work/out" --name x --yes --quiet --overwrite "$@" \
    </dev/null
}

# both FILE OPTIONS...: the first rip is held still with SIGSTOP once FILE
# has a few megabytes, the second runs to its end meanwhile.
both() {
  local file=$work/out/$1
  shift
  rm -f "$work"/out/*
  (rip "$@") >"$work/first.log" 2>&1 &
  pid=$!
  hold_when_grown "$pid" "$file" 3000000
  local before rc=0
  before=$(stat -c %s "$file")
  (rip "$@") >"$work/second.log" 2>&1 || rc=$?
  [ "$rc" = 1 ] || fail "$file: the second rip exited $rc, not 1: $(cat "$work/second.log")"
  grep -q "is being written by another rip" "$work/second.log" ||
    fail "$file: the second rip did not say why: $(cat "$work/second.log")"
  [ "$(stat -c %s "$file")" = "$before" ] || fail "$file: the second rip changed the file ($before -> $(stat -c %s "$file")): $(cat "$work/second.log")"
  kill -CONT "$pid"
  rc=0
  wait "$pid" || rc=$?
  pid=
  [ "$rc" = 0 ] || fail "$file: the first rip exited $rc: $(cat "$work/first.log")"
  local frames errors
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$file" | head -1)
  [ "$frames" -ge 470 ] || fail "$file: only $frames pictures after the first rip"
  errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
  [ -z "$errors" ] || fail "$file does not decode cleanly: $errors"
}

both x.mpg --format 12
both x.avi --format 2 --video-codec "DIB " --export rgb24 --avi-audio wav --width 352 --height 288
echo "rip_lock: all passed"
