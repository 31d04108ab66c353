# Sourced by every tests/cli/*_test.sh, which CTest runs as
#   bash SCRIPT ZEMBRA SOURCE_DIR [BUILD_DIR]
zembra=$1 source=$2 build=${3:-}

fail() { echo "FAIL: $*" >&2; exit 1; }

# require_tools TOOL...: skips the test (status 77) without one of the oracle
# tools, but fails it in CI, where a skip would hide a broken runner.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { [ -n "${CI:-}" ] && { echo "$tool missing" >&2; exit 1; }; exit 77; }
  done
}

# make_workspace: $work, removed at exit, with prog/ (the program folder with
# the shipped languages) and out/; the settings and documents live in it too,
# so a test never reads or changes the user's.
make_workspace() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/prog" "$work/out"
  cp -r "$source/langs" "$work/prog/"
  export ZEMBRA_PROGRAM_DIR=$work/prog XDG_DOCUMENTS_DIR=$work/docs ZEMBRA_SHUTDOWN_COMMAND=true
}

# Pictures in a file's first video stream, counted packet by packet.
frames() { ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
# near VALUE WANTED TOLERANCE: true when |VALUE - WANTED| <= TOLERANCE.
near() { awk -v v="$1" -v w="$2" -v d="$3" 'BEGIN { x = v - w; exit !(x <= d && x >= -d) }'; }

# hold_when_grown PID FILE BYTES: waits while PID runs until FILE holds more
# than BYTES, then holds PID still (SIGSTOP, taken effect), so it cannot
# finish before the test has done what it wants to do in the middle.
hold_when_grown() {
  local pid=$1 file=$2 bytes=$3 tries=0
  until [ -f "$file" ] && [ "$(stat -c %s "$file")" -gt "$bytes" ]; do
    kill -0 "$pid" 2>/dev/null || fail "$file: the command ended before it could be held"
    tries=$((tries + 1))
    [ $tries -lt 6000 ] || fail "$file never grew"
    sleep 0.01
  done
  kill -STOP "$pid"
  until grep -q '^State:.*T' "/proc/$pid/status" 2>/dev/null; do sleep 0.01; done
}

# signal_when_grown SIGNAL FILE BYTES: sends SIGNAL to the command started as
# $pid once FILE holds more than BYTES (held still meanwhile, so it cannot
# finish first); its exit status. pid is empty again afterwards.
signal_when_grown() {
  hold_when_grown "$pid" "$2" "$3"
  kill "-$1" "$pid"
  kill -CONT "$pid"
  local rc=0
  wait "$pid" || rc=$?
  pid=
  return $rc
}
