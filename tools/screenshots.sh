#!/usr/bin/env bash
# Pictures of the window and of each dialog with the sample disc open, at
# 100 % and 200 % scale, made by zembra-gui itself under Xvfb. Fails when a
# picture is missing (a dialog did not open) or blank (one colour).
#
# usage: tools/screenshots.sh BUILD OUTDIR
#   writes OUTDIR/100/*.png and OUTDIR/200/*.png
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/screenshots.sh BUILD OUTDIR}
out=${2:?usage: tools/screenshots.sh BUILD OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)

exe=$(find "$build" -name zembra-gui -type f -perm -u+x | head -n 1)
[ -n "$exe" ] || { echo "screenshots: no zembra-gui under $build" >&2; exit 2; }
for tool in xvfb-run identify; do
  command -v $tool >/dev/null || { echo "screenshots: $tool missing" >&2; exit 3; }
done

# A program folder of its own: the run must not touch the build's settings,
# nor the user's remembered window state.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/out" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
cp -r langs "$work/prog/"
printf '[Zembra_App]\nOutputPath=%s/out/\n' "$work" >"$work/prog/options.ini"

names="main-window preference-global preference-mpeg preference-avi properties crop size mp3 about"
status=0
for scale in 1 2; do
  dir="$out/$((scale * 100))"
  rm -rf "$dir"
  if ! ZEMBRA_PROGRAM_DIR="$work/prog" XDG_CONFIG_HOME="$work/config" \
      XDG_RUNTIME_DIR="$work/runtime" QT_SCALE_FACTOR=$scale ZEMBRA_GUI_SCREENSHOTS="$dir" \
      xvfb-run -a -s "-screen 0 3200x2400x24" "$exe" "$PWD/samples/VIDEO_TS" \
      >"$work/run.log" 2>&1; then
    echo "screenshots: zembra-gui failed at scale $scale:" >&2
    cat "$work/run.log" >&2
    status=1
  fi
  for name in $names; do
    png="$dir/$name.png"
    if [ ! -f "$png" ]; then
      echo "screenshots: $name did not open at scale $scale" >&2
      status=1
      continue
    fi
    colours=$(identify -format '%k' "$png")
    if [ "$colours" -le 1 ]; then
      echo "screenshots: $png is blank" >&2
      status=1
    fi
    echo "$png $(identify -format '%wx%h' "$png") $colours colours"
  done
done
exit $status
