#!/usr/bin/env bash
# zembra rip onto a full disk, played by a file-size limit (ulimit -f with
# SIGXFSZ ignored), for every MPEG format, with and without splitting: the
# row fails (exit 1, not "1 of 1 title(s) ripped"), and the file ends with
# the last whole sector that reached the disk, readable by ffprobe.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffprobe
make_workspace
disc=$source/samples/VIDEO_TS


# rip LIMIT_KB FORMAT [OPTIONS...]: exit status of the rip under the limit
# (0: none); its messages in $work/log.
rip() {
  local limit=$1 format=$2
  shift 2
  rm -f "$work"/out/*
  local rc=0
  (
    trap '' XFSZ
    [ "$limit" = 0 ] || ulimit -f "$limit"
    exec "$zembra" rip "$disc" --format "$format" --output-dir "$work/out" --name x --yes --quiet \
      --overwrite "$@"
  ) >"$work/log" 2>&1 || rc=$?
  return $rc
}

frames() {
  ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1" 2>/dev/null | head -1
}

# A failed row: exit 1, the write failure said, no success line, no scan
# list left, every file ending on a sector and still readable.
expect_failed_row() {
  local what=$1 limit_bytes=$2 rc=$3
  [ "$rc" = 1 ] || fail "$what: exit status $rc, not 1: $(cat "$work/log")"
  grep -q "Unable to write" "$work/log" || fail "$what: the write failure was not said"
  ! grep -q "1 of 1 title(s) ripped" "$work/log" || fail "$what: reported as ripped"
  ! ls "$work"/out/*svcd >/dev/null 2>&1 || fail "$what: SVCD scan list left behind"
  local f size
  for f in "$work"/out/*.mpg; do
    size=$(stat -c %s "$f")
    [ $((size % 2324)) = 0 ] || fail "$what: $(basename "$f") ($size bytes) ends inside a sector"
    [ "$size" -le "$limit_bytes" ] || fail "$what: $(basename "$f") is past the limit"
    [ "$(frames "$f")" -gt 0 ] || fail "$what: ffprobe reads no picture in $(basename "$f")"
  done
}

# Custom MPEG-1, Custom MPEG-2, DVD PAL, VCD PAL, SVCD PAL.
for format in 0 1 12 14 13; do
  rip 0 "$format" || fail "format $format: the unlimited rip failed: $(cat "$work/log")"
  whole=$(stat -c %s "$work/out/x.mpg")
  # Just short of the whole title: only the last sectors, written as the
  # file is closed at the title's end, fail.
  limit=$(((whole - 1) / 1024))
  rc=0
  rip "$limit" "$format" || rc=$?
  expect_failed_row "format $format, limit at the title's end" $((limit * 1024)) "$rc"
  # Three quarters of the title fit: the failure comes in the middle.
  limit=$((whole * 3 / 4 / 1024))
  rc=0
  rip "$limit" "$format" || rc=$?
  expect_failed_row "format $format" $((limit * 1024)) "$rc"
  # Pieces of a size the limit stops before.
  split=$(((whole + 1048575) / 1048576))
  limit=$((whole / 2 / 1024))
  rc=0
  rip "$limit" "$format" --split-size "$split" || rc=$?
  expect_failed_row "format $format, split at $split MB" $((limit * 1024)) "$rc"
  # One byte short of the first 1 MB piece: only its last sectors, written
  # as the next piece starts, fail.
  rip 0 "$format" --split-size 1 || fail "format $format: the split rip failed: $(cat "$work/log")"
  limit=$((($(stat -c %s "$work/out/x.mpg") - 1) / 1024))
  rc=0
  rip "$limit" "$format" --split-size 1 || rc=$?
  expect_failed_row "format $format, limit at the end of a piece" $((limit * 1024)) "$rc"
done
echo "rip_full_disk: all passed"
