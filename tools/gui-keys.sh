#!/usr/bin/env bash
# zembra-gui as a user drives it with the keyboard, no test hooks: started
# under Xvfb on a disc image of samples/, Ctrl+R rips the title with the
# stored settings (VCD PAL) into the stored output folder, Ctrl+Q closes the
# window, which writes options.ini. Then SIGTERM in the middle of a rip (a
# logout): the window ends the rip with its file whole and quits with 143.
# Fails when a file is not what ffprobe expects or the window does not close.
#
# usage: tools/gui-keys.sh BUILD
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/gui-keys.sh BUILD}
exe=$(find "$build" -name zembra-gui -type f -perm -u+x | head -n 1)
[ -n "$exe" ] || { echo "gui-keys: no zembra-gui under $build" >&2; exit 2; }
exe=$(realpath "$exe")
for tool in xvfb-run xdotool genisoimage ffprobe ffmpeg; do
  command -v $tool >/dev/null || { echo "gui-keys: $tool missing" >&2; exit 3; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/out" "$work/config" "$work/runtime" "$work/disc/AUDIO_TS"
chmod 700 "$work/runtime"
cp -r langs "$work/prog/"
cp -r samples/VIDEO_TS "$work/disc/"
genisoimage -quiet -dvd-video -udf -V SAMPLE -o "$work/disc.iso" "$work/disc"
cat >"$work/prog/options.ini" <<INI
[Zembra_App]
OutputPath=$work/out/
[Zembra_OutputSettings]
StreamTypeSelected=14
MPEGStream=0
Width=352
Height=288
INI

# Sourced by the drive scripts inside the X server: rip_with_keys LOG starts
# the window on the image (pid, window) and presses Ctrl+R.
cat >"$work/start.sh" <<'DRIVE'
rip_with_keys() {
  "$exe" "$work/disc.iso" >"$1" 2>&1 &
  pid=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Zembra$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "gui-keys: the window did not show" >&2; kill "$pid"; exit 1; }
  sleep 1
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" ctrl+r
}
DRIVE

cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
# Inside the X server: start the window, press the keys, wait for each step.
set -u
work=$1 exe=$2
. "$work/start.sh"
rip_with_keys "$work/gui.log"
# Ripping shows the percentage in the title; done when the file is there
# and the title is plain again.
for _ in $(seq 300); do
  sleep 0.2
  title=$(xdotool getwindowname "$window" 2>/dev/null || true)
  [ -s "$work/out/Title_0.mpg" ] && [ "$title" = "Zembra" ] && break
done
# The window may be gone before xdotool has sent the key's release.
xdotool key --window "$window" ctrl+q 2>/dev/null
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
  echo "gui-keys: Ctrl+Q did not close the window" >&2
  kill "$pid"
  exit 1
fi
wait "$pid"
DRIVE
chmod +x "$work/drive.sh"

# --- SIGTERM in the middle of a slow rip (DVD PAL High Quality, the widest
# motion search, one thread), held still until the signal is sent.
cat >"$work/drive-term.sh" <<'DRIVE'
#!/usr/bin/env bash
set -u
work=$1 exe=$2
. "$work/start.sh"
rip_with_keys "$work/gui-term.log"
file=$work/out/Title_0.mpg
for _ in $(seq 3000); do
  [ -f "$file" ] && [ "$(stat -c %s "$file")" -gt 300000 ] && break
  kill -0 "$pid" 2>/dev/null || { echo "gui-keys: the rip ended before SIGTERM" >&2; exit 1; }
  sleep 0.01
done
kill -STOP "$pid"
until grep -q '^State:.*T' "/proc/$pid/status" 2>/dev/null; do sleep 0.01; done
kill -TERM "$pid"
kill -CONT "$pid"
rc=0
wait "$pid" || rc=$?
[ "$rc" = 143 ] || { echo "gui-keys: SIGTERM ended the window with $rc, not 143" >&2; exit 1; }
DRIVE
chmod +x "$work/drive-term.sh"

# Both in one X server: the first run's file and settings are put aside, the
# second run's settings stored.
cat >"$work/drive-both.sh" <<'DRIVE'
#!/usr/bin/env bash
set -u
work=$1 exe=$2
"$work/drive.sh" "$work" "$exe" || exit 1
mv "$work/out/Title_0.mpg" "$work/first.mpg"
cp -p "$work/prog/options.ini" "$work/first.ini"
"$(dirname "$exe")/zembra" config --set Zembra_OutputSettings.StreamTypeSelected=12 \
  --set Zembra_OutputSettings.MPEGStream=1 --set Zembra_OutputSettings.Width=720 \
  --set Zembra_OutputSettings.Height=576 --set Zembra_OutputSettings.MotionSearch=3 \
  --set Zembra_App.Threads=1 >/dev/null || exit 1
"$work/drive-term.sh" "$work" "$exe"
DRIVE
chmod +x "$work/drive-both.sh"

before=$(stat -c %Y "$work/prog/options.ini")
sleep 1  # a later write has a later time stamp
ZEMBRA_PROGRAM_DIR="$work/prog" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$work/drive-both.sh" "$work" "$exe" ||
  { cat "$work/gui.log" "$work/gui-term.log" >&2 2>/dev/null; exit 1; }

video=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$work/first.mpg")
echo "gui-keys: Ctrl+R wrote Title_0.mpg: $video"
[ "${video%,}" = "mpeg1video,352,288,150" ] || { echo "gui-keys: unexpected $video" >&2; exit 1; }
after=$(stat -c %Y "$work/first.ini")
[ "$after" -gt "$before" ] && grep -q '^StreamTypeSelected=14' "$work/first.ini" ||
  { echo "gui-keys: Ctrl+Q did not write options.ini" >&2; exit 1; }
echo "gui-keys: Ctrl+Q closed the window and wrote options.ini"

end=$(tail -c 4 "$work/out/Title_0.mpg" | od -An -tx1 | tr -d ' \n')
errors=$(ffmpeg -nostdin -v error -i "$work/out/Title_0.mpg" -f null - 2>&1)
[ "$end" = 000001b9 ] && [ -z "$errors" ] ||
  { echo "gui-keys: the rip stopped by SIGTERM left a cut file ($end): $errors" >&2; exit 1; }
[ "$(ls "$work/out")" = Title_0.mpg ] || { echo "gui-keys: left $(ls "$work/out")" >&2; exit 1; }
echo "gui-keys: SIGTERM ended the rip with its file whole and closed the window (143)"
