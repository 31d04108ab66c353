#!/usr/bin/env bash
# Installs what building, ripping and testing need, when it is missing.
# The oracle tools (ffmpeg, dvdauthor, ...) only check our work; the program
# never calls them.
set -euo pipefail
packages=(
  build-essential cmake ninja-build libgtest-dev clang libclang-rt-14-dev
  libmp3lame0 libmp3lame-dev libxvidcore4 libxvidcore-dev
  ffmpeg dvdauthor mjpegtools genisoimage vcdimager twolame
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
