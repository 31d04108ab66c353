#!/usr/bin/env bash
# The README's main job: starts Zembra like the program does (settings and
# language beside the executable) and reads the bundled sample disc.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
zembra="$build/src/cli/zembra"
"$zembra" config
if [ -d samples/VIDEO_TS ] && "$zembra" --help | grep -q " scan "; then
    echo
    "$zembra" scan samples/VIDEO_TS
fi
