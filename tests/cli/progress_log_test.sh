#!/usr/bin/env bash
# Progress written to a log file or a pipe is plain lines, a few of them:
# no carriage return or escape code, the last state printed at the end; a
# rip stopped by Ctrl-C ends with status 130.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg dvdauthor
make_workspace
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

"$zembra" rip "$source/samples/VIDEO_TS" --format 14 --output-dir "$work/out" --yes \
  </dev/null >"$work/out.txt" 2>"$work/log" || fail "rip: $(cat "$work/log")"
if LC_ALL=C grep -q $'[\r\033]' "$work/log"; then fail "control codes in the log: $(od -c "$work/log" | head)"; fi
grep -q '^\[####################\] ' "$work/log" || fail "no finished progress line in: $(cat "$work/log")"
# One line every few seconds (and the last state), not one per picture.
[ "$(grep -c '^\[' "$work/log")" -le 10 ] || fail "$(grep -c '^\[' "$work/log") progress lines"

# Ctrl-C without a terminal stops the rip at once: status 130.
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-20s" --seconds 20 --bitrate 1500k)
"$zembra" rip "$disc/VIDEO_TS" --format 12 --output-dir "$work/cut" --name x --yes --quiet \
  </dev/null >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 300); do
  [ "$(stat -c %s "$work/cut/x.mpg" 2>/dev/null || echo 0)" -gt 1000000 ] && break
  sleep 0.1
done
kill -INT "$pid"
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" = 130 ] || fail "Ctrl-C gave status $rc: $(cat "$work/log")"
echo "progress log: all checks passed"
