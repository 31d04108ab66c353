#!/usr/bin/env bash
# zembra encode end to end: raw pictures and a WAV file become VCD and SVCD
# program streams that ffprobe reads as MPEG video plus 44.1 kHz mp2; a
# non-MPEG format is refused; the thread count changes no byte; a damaged
# or empty picture stream is no success; Ctrl-C leaves a complete, readable
# file.
set -euo pipefail
zembra=$1
for tool in ffmpeg ffprobe; do
    if ! command -v "$tool" >/dev/null; then
        [ -n "${CI:-}" ] && { echo "FAIL: $tool is missing" >&2; exit 1; }
        echo "skipped: $tool is missing"
        exit 77
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -t 2 -pix_fmt yuv420p "$work/v.y4m"
ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" -ac 2 "$work/a.wav"

# Sector size, end code, streams and picture count of a program stream.
check() {
    local file=$1 codec=$2 pictures=$3
    local size
    size=$(stat -c %s "$file")
    [ $((size % 2324)) -eq 0 ] || fail "$file: $size bytes is not whole sectors"
    [ "$(tail -c 4 "$file" | od -An -tx1 | tr -d ' \n')" = "000001b9" ] || fail "$file: no end code"
    local streams
    streams=$(ffprobe -v error -show_entries stream=codec_name,sample_rate -of csv=p=0 "$file")
    grep -qE "^$codec,?$" <<<"$streams" || fail "$file: no $codec stream in: $streams"
    grep -qx "mp2,44100" <<<"$streams" || fail "$file: no 44.1 kHz mp2 stream in: $streams"
    # Every MPEG entry of the Format list sets the Video CD sound rate.
    local audio
    audio=$(ffprobe -v error -select_streams a -show_entries stream=bit_rate -of csv=p=0 "$file")
    [ "$audio" = 224000 ] || fail "$file: sound at $audio bit/s, not 224000"
    local errors
    errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
    [ -z "$errors" ] || fail "$file: ffmpeg reports: $errors"
    if [ -n "$pictures" ]; then
        local n
        n=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames \
            -of csv=p=0 "$file" | tr -dc 0-9)
        [ "$n" -eq "$pictures" ] || fail "$file: $n pictures, $pictures fed"
    fi
}

"$zembra" encode "$work/v.y4m" "$work/a.wav" --format "VCD PAL Good Quality" -o "$work/vcd.mpg" \
    --quiet
check "$work/vcd.mpg" mpeg1video 50
"$zembra" encode "$work/v.y4m" "$work/a.wav" --format 13 -o "$work/svcd.mpg" --vbv 112 --quiet
check "$work/svcd.mpg" mpeg2video 50
# The encoder's threads change no byte of the program stream.
for format in 13 14; do
    for threads in 1 4; do
        "$zembra" encode "$work/v.y4m" "$work/a.wav" --format "$format" --motion-search 2 \
            --threads "$threads" -o "$work/f$format-t$threads.mpg" --quiet
    done
    cmp -s "$work/f$format-t1.mpg" "$work/f$format-t4.mpg" ||
        fail "format $format: --threads 4 wrote other bytes than --threads 1"
done
# Without a WAV file the sound is silence, still a whole program stream.
"$zembra" encode "$work/v.y4m" --format 0 -o "$work/silent.mpg" --quiet
check "$work/silent.mpg" mpeg1video 50

# An AVI entry is not an MPEG format.
set +e
"$zembra" encode "$work/v.y4m" --format 2 -o "$work/avi.mpg" --quiet 2>/dev/null
rc=$?
set -e
[ "$rc" -eq 2 ] || fail "format 2 gave exit code $rc"
[ ! -e "$work/avi.mpg" ] || fail "format 2 wrote a file"

# Pictures it cannot read whole are not coded as if the stream ended there:
# a stream cut inside its third picture, or broken after its second, writes
# the two before and exits 1 saying so; one without a picture writes nothing;
# 10-bit planes are refused, not read as other pictures.
size=$(head -n 1 "$work/v.y4m" | wc -c)
frame=$((6 + 352 * 288 * 3 / 2))
head -c $((size + 2 * frame + 1000)) "$work/v.y4m" > "$work/cut.y4m"
{ head -c $((size + 2 * frame)) "$work/v.y4m"; echo "not a frame"; } > "$work/broken.y4m"
for name in cut broken; do
    rc=0
    "$zembra" encode "$work/$name.y4m" --format 14 -o "$work/$name-in.mpg" --quiet 2>"$work/err" || rc=$?
    [ "$rc" -eq 1 ] || fail "$name input gave exit code $rc"
    grep -q "cut short or damaged after 2 pictures" "$work/err" || fail "$name input: $(cat "$work/err")"
    check "$work/$name-in.mpg" mpeg1video 2
done
head -n 1 "$work/v.y4m" > "$work/empty.y4m"
rc=0
"$zembra" encode "$work/empty.y4m" --format 14 -o "$work/empty.mpg" --quiet 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "holds no pictures" "$work/err" || fail "no pictures: $rc $(cat "$work/err")"
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -frames:v 2 -pix_fmt yuv420p10le \
    -strict -1 "$work/deep.y4m"
rc=0
"$zembra" encode "$work/deep.y4m" --format 14 -o "$work/deep.mpg" --quiet 2>"$work/err" || rc=$?
[ "$rc" -eq 1 ] && grep -q "unsupported chroma C420p10" "$work/err" || fail "10-bit: $rc $(cat "$work/err")"

# Ctrl-C in the middle: the piece is finished, not cut. A costly job (a
# 720x576 MPEG-2 format, the widest search, one thread) keeps the encoder
# busy for seconds even on a fast idle machine.
ffmpeg -v error -f lavfi -i "mandelbrot=size=352x288:rate=25" -t 20 -pix_fmt yuv420p "$work/long.y4m"
"$zembra" encode "$work/long.y4m" --format 12 --motion-search 3 --threads 1 -o "$work/cut.mpg" --quiet 2>/dev/null &
pid=$!
for _ in $(seq 100); do
    [ -e "$work/cut.mpg" ] && break
    sleep 0.1
done
sleep 0.3
kill -INT "$pid" 2>/dev/null || fail "the encode ended before Ctrl-C could reach it"
set +e
wait "$pid"
rc=$?
set -e
[ "$rc" -eq 130 ] || fail "interrupted encode gave exit code $rc"
check "$work/cut.mpg" mpeg2video ""
echo "encode CLI: all checks passed"
