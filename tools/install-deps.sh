#!/usr/bin/env bash
# Installs what building, ripping and testing need, when it is missing.
# The oracle tools (ffmpeg, dvdauthor, ...) only check our work; the program
# never calls them. libmp3lame and libxvidcore are loaded at run time, so only
# their shared objects are needed, never their -dev packages.
set -euo pipefail
packages=(
  # build and unit tests
  build-essential cmake ninja-build ccache libgtest-dev
  # fuzz targets (libFuzzer comes with clang's runtime package)
  clang libclang-rt-14-dev
  # the window (Qt 6 Widgets, DBus, Test), its screenshots and a keyboard run
  # (xdotool) under a virtual X server, and a font for both; Qt's own
  # translations of its standard buttons
  qt6-base-dev qt6-translations-l10n xvfb xauth xdotool imagemagick fonts-dejavu-core
  # run-time libraries loaded with dlopen
  libmp3lame0 libxvidcore4
  # oracles and fixture makers of the tests; bc for the benchmark scripts;
  # python3 reads zembra scan --json back; lsdvd is the IFO parser's oracle
  ffmpeg dvdauthor mjpegtools genisoimage vcdimager twolame bc python3 lsdvd
  # the Debian package: its dependencies worked out (dpkg-shlibdeps), Debian's
  # checker run over it, and its man pages read once installed
  dpkg-dev lintian man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
