#!/usr/bin/env bash
# The README's main job: rips title 0 of the bundled sample disc to an AVI in
# output/ — MPEG-4 (Xvid) video with MP3 sound when those libraries are
# installed, else uncompressed RGB24 video with the sound in a WAV file. The
# sample is 4:3 PAL, so the zoom is "Full" and the rate 25 fps.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
zembra="$build/src/cli/zembra"
out=${ZEMBRA_OUTPUT_DIR:-output}

codecs=$("$zembra" codecs 2>/dev/null || true)
if grep -q "^  XVID " <<<"$codecs" && grep -q "^MP3 library: Lame MP3 " <<<"$codecs"; then
    echo "main job: Xvid (MPEG-4) video and MP3 sound"
    choice=(--video-codec XVID --codec-opt bitrate=900 --avi-audio mp3 --mp3-bitrate 128)
else
    echo "main job: no Xvid/LAME library here - uncompressed RGB24 video, sound as WAV"
    choice=(--video-codec "DIB " --export rgb24 --avi-audio wav)
fi

rm -f "$out"/sample.avi "$out"/sample.wav
"$zembra" rip samples/VIDEO_TS --title 0 --format 2 --fps-index 2 --zoom 3 --width 352 --height 288 \
    --output-dir "$out" --name sample --overwrite --yes "${choice[@]}"

echo
ls -l "$out"/sample.*
if command -v ffprobe >/dev/null; then
    ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames,duration,sample_rate \
        -of compact "$out/sample.avi"
fi
