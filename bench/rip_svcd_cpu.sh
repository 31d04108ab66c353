#!/usr/bin/env bash
# CPU time (user + sys, best of RUNS) of a whole `zembra rip` of a DVD title
# to the SVCD PAL preset, for one or more zembra binaries, beside
# `ffmpeg -threads 1 -i VTS_01_1.VOB -target pal-svcd` on the same title.
# CPU time rather than wall time, as the machine is shared.
# Usage: bench/rip_svcd_cpu.sh DISC RUNS ZEMBRA...
#   DISC  a folder holding VIDEO_TS (e.g. tools/make-test-disc.sh --out DIR
#         --seconds 30 --bitrate 6000k)
set -euo pipefail
cd "$(dirname "$0")/.."
disc=$1 runs=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp -r langs "$work/prog/"
export ZEMBRA_PROGRAM_DIR=$work/prog ZEMBRA_SHUTDOWN_COMMAND=true

cpu_seconds() {
  local TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{print $1 + $2}'
}
best() {
  local all=()
  for _ in $(seq "$runs"); do all+=("$(cpu_seconds "$@")"); done
  printf '%s\n' "${all[@]}" | sort -g | head -1
}

ff=$(best ffmpeg -nostdin -v error -threads 1 -i "$disc/VIDEO_TS/VTS_01_1.VOB" -target pal-svcd \
  -y "$work/ff.mpg")
printf 'ffmpeg -threads 1 -target pal-svcd: %.2f s CPU\n' "$ff"
for zembra in "$@"; do
  ours=$(best "$zembra" rip "$disc/VIDEO_TS" --format 13 --output-dir "$work/out" --yes --quiet \
    --overwrite)
  printf '%s rip --format 13: %.2f s CPU (%.2f x ffmpeg)\n' "$zembra" "$ours" \
    "$(echo "$ours / $ff" | bc -l)"
done
