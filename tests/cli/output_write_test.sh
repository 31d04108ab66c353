#!/usr/bin/env bash
# decode and extract write their files whole or say they could not: under a
# file-size limit (a full disk, with SIGXFSZ ignored) each ends with exit 1
# and names the file; the pictures written to a pipe are the same bytes as
# to a file; a title or title set the disc does not have is refused in the
# rip's words.
set -euo pipefail
. "$(dirname "$0")/common.sh"
make_workspace
disc=$source/samples/VIDEO_TS

# limited KB COMMAND...: the command's exit status under the limit; its
# messages in $work/log.
limited() {
  local limit=$1 rc=0
  shift
  ( trap '' XFSZ; ulimit -f "$limit"; exec "$@" ) >"$work/log" 2>&1 || rc=$?
  return $rc
}

"$zembra" decode "$disc" --frames 3 -o "$work/out/a.y4m" 2>/dev/null || fail "decode to a file failed"
"$zembra" decode "$disc" --frames 3 -o - 2>/dev/null >"$work/out/b.y4m" || fail "decode to a pipe failed"
cmp -s "$work/out/a.y4m" "$work/out/b.y4m" || fail "the pictures on standard output differ from the file"
"$zembra" decode "$disc" --paced --frames 3 -o - 2>/dev/null | cmp -s - <("$zembra" decode "$disc" \
  --paced --frames 3 -o "$work/out/c.y4m" 2>/dev/null && cat "$work/out/c.y4m") ||
  fail "the paced frames on standard output differ from the file"

# A device or a pipe is written as it is, and a failed decode leaves it be.
"$zembra" decode "$disc" --frames 2 -o /dev/null 2>/dev/null || fail "decode -o /dev/null failed"
"$zembra" extract "$disc" --title 0 -o /dev/null >/dev/null 2>&1 || fail "extract -o /dev/null failed"
mkfifo "$work/out/pipe"
head -c 100000 /dev/urandom >"$work/out/noise.vob"
! "$zembra" decode "$work/out/noise.vob" -o "$work/out/pipe" >/dev/null 2>&1 ||
  fail "decode of noise succeeded"
[ -p "$work/out/pipe" ] || fail "a failed decode removed the pipe it was given as output"

rc=0
limited 100 "$zembra" decode "$disc" --frames 20 -o "$work/out/d.y4m" || rc=$?
[ "$rc" = 1 ] || fail "decode past the limit: exit $rc, not 1: $(cat "$work/log")"
grep -q "cannot write $work/out/d.y4m" "$work/log" || fail "decode did not name the file: $(cat "$work/log")"
for option in -o --rgb24; do
  rc=0
  limited 100 "$zembra" decode "$disc" --paced --frames 20 "$option" "$work/out/e.out" || rc=$?
  [ "$rc" = 1 ] || fail "decode --paced $option past the limit: exit $rc: $(cat "$work/log")"
  grep -q "cannot write $work/out/e.out" "$work/log" || fail "decode $option did not name the file"
done

rc=0
limited 64 "$zembra" extract "$disc" --title 0 -o "$work/out/f.vob" || rc=$?
[ "$rc" = 1 ] || fail "extract past the limit: exit $rc, not 1: $(cat "$work/log")"
grep -q "f.vob" "$work/log" || fail "extract did not name the file: $(cat "$work/log")"
size=$(stat -c %s "$work/out/f.vob")
[ $((size % 2048)) = 0 ] && [ "$size" -gt 0 ] ||
  fail "extract left $size bytes, not the whole sectors that fit"

rc=0
"$zembra" extract "$disc" --title 9 -o "$work/out/g.vob" >"$work/log" 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "extract --title 9: exit $rc, not 2"
grep -q "zembra extract: --title takes 0 to 0, not 9 ($disc)" "$work/log" ||
  fail "extract --title 9 said: $(cat "$work/log")"
rc=0
"$zembra" extract "$disc" --title 0 --title-set 2 -o "$work/out/g.vob" >"$work/log" 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "extract --title-set 2: exit $rc, not 2"
grep -q "zembra extract: --title-set: the source has title set(s) 1, not 2 ($disc)" "$work/log" ||
  fail "extract --title-set 2 said: $(cat "$work/log")"
"$zembra" extract "$disc" --title 0 --title-set 1 -o /dev/null >/dev/null 2>&1 ||
  fail "extract --title-set 1 failed"
rc=0
"$zembra" extract "$work" --title 0 -o "$work/out/g.vob" >"$work/log" 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "extract of a folder without a title set: exit $rc, not 1"
grep -q "No IFO file found in.: $work" "$work/log" || fail "extract without a set said: $(cat "$work/log")"
echo "decode and extract writes checked"
