#!/usr/bin/env bash
# Output identity check for speed work outside the video encoder: rips test
# discs to the MPEG presets and to AVI (uncompressed video + WAV sound) with
# several zoom modes and resize kernels, decodes pictures through the output
# geometry with every zoom x kernel pair, decodes audio through every
# resampler mode and encodes a y4m + wav pair to SVCD PAL. Prints one
# "md5  name" line per output file; compare two runs with diff.
# Usage: bench/rip_identity.sh [BUILD_DIR] [DISC30] > sums.txt
#   BUILD_DIR  default build
#   DISC30     a 30-second 720x576 title (tools/make-test-disc.sh --seconds 30
#              --bitrate 6000k); default BUILD_DIR/test-discs/identity-30s
# The short discs are made (cached) in BUILD_DIR/test-discs/identity-*.
# THREADS=N in the environment stores Threads=N first, as --threads N would:
# the sums must be the same at every N.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
zembra=$build/src/cli/zembra
[ -x "$zembra" ] || { echo "rip_identity: $zembra not built" >&2; exit 2; }
discs=$build/test-discs
long=${2:-}
if [ -z "$long" ]; then
  long=$(tools/make-test-disc.sh --out "$discs/identity-30s" --seconds 30 --bitrate 6000k)
fi
ntsc=$(tools/make-test-disc.sh --out "$discs/identity-ntsc" --ntsc --seconds 4)
ac351=$(tools/make-test-disc.sh --out "$discs/identity-ac351" --ac3-51 --wide --seconds 4)
mp2=$(tools/make-test-disc.sh --out "$discs/identity-mp2" --mp2 --seconds 4)
lpcm=$(tools/make-test-disc.sh --out "$discs/identity-lpcm" --lpcm --seconds 4)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp -r langs "$work/prog/"
[ -z "${THREADS:-}" ] || printf '[Zembra_App]\nThreads=%s\n' "$THREADS" >"$work/prog/options.ini"
export ZEMBRA_PROGRAM_DIR=$work/prog ZEMBRA_SHUTDOWN_COMMAND=true

# rip NAME DISC OPTIONS...: md5 of every file the rip writes.
rip() {
  local name=$1 disc=$2
  shift 2
  local out=$work/out/$name
  mkdir -p "$out"
  # Some conversions end with a non-zero status and still write a file
  # (NTSC to a PAL preset): the status is part of the record.
  local rc=0
  "$zembra" rip "$disc/VIDEO_TS" --output-dir "$out" --name "$name" --yes --quiet --overwrite \
    "$@" >/dev/null 2>"$work/err" || rc=$?
  echo "status $rc  rip/$name"
  if [ -n "$(ls -A "$out")" ]; then (cd "$out" && md5sum -- *) | sed "s|  |  rip/|"; fi
  rm -rf "$out"
}

for f in 13 14 12 7; do rip "long-f$f" "$long" --format $f; done
rip long-f13-z0 "$long" --format 13 --zoom 0
rip long-f13-z3-r5 "$long" --format 13 --zoom 3 --resize 5
rip long-f14-r9 "$long" --format 14 --resize 9
for disc in ntsc ac351 mp2 lpcm; do
  for f in 13 14 12 7; do rip "$disc-f$f" "${!disc}" --format $f; done
  for z in 0 3; do
    for r in 0 2 5 9 12; do
      rip "$disc-avi-z$z-r$r" "${!disc}" --format 2 --video-codec "DIB " --avi-audio wav \
        --zoom $z --resize $r
    done
  done
done
for d in 0 1 2 3; do
  rip "mp2-f13-d$d" "$mp2" --format 13 --downsampling $d
done

# Every zoom x resize kernel through the output geometry (pictures only),
# including a size that makes two-stage kernels and a custom crop.
for z in 0 1 2 3 4; do
  for r in $(seq 0 12); do
    for size in "480 576" "352 240"; do
      set -- $size
      "$zembra" decode "$ac351/VIDEO_TS/VTS_01_1.VOB" --frames 3 --fps-index 2 --no-detect24 \
        --zoom $z --resize $r --width "$1" \
        --height "$2" --crop 0.1,0.85,0.05,0.9 -o "$work/d.y4m" >/dev/null 2>&1 ||
        { echo "decode z$z r$r $1x$2 failed" >&2; exit 1; }
      echo "$(md5sum <"$work/d.y4m" | cut -d' ' -f1)  decode/z$z-r$r-$1x$2.y4m"
    done
  done
done

# Audio decoding with each resampler mode.
for disc in ntsc ac351 mp2 lpcm; do
  for d in 0 1 3 4; do
    "$zembra" audio-decode "${!disc}/VIDEO_TS/VTS_01_1.VOB" --downsampling $d \
      -o "$work/a.wav" >/dev/null 2>&1 || { echo "audio-decode $disc d$d failed" >&2; exit 1; }
    echo "$(md5sum <"$work/a.wav" | cut -d' ' -f1)  audio/$disc-d$d.wav"
  done
done

# zembra encode of a y4m + wav pair (a tone and a sweep).
ffmpeg -v error -y -f lavfi -i "testsrc2=size=480x576:rate=25" -t 6 -pix_fmt yuv420p "$work/v.y4m"
ffmpeg -v error -y -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=6" \
  -f lavfi -i "aevalsrc=0.4*sin(2*PI*(200+900*t)*t):s=44100:d=6" \
  -filter_complex "[0][1]amerge=inputs=2" "$work/in.wav"
for f in 13 14; do
  "$zembra" encode "$work/v.y4m" "$work/in.wav" --format $f -o "$work/e$f.mpg" >/dev/null 2>&1 ||
    { echo "encode f$f failed" >&2; exit 1; }
  echo "$(md5sum <"$work/e$f.mpg" | cut -d' ' -f1)  encode/f$f.mpg"
done
