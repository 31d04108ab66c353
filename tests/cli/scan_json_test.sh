#!/usr/bin/env bash
# zembra scan --json for scripts: one JSON object whose titles, cells,
# chapters, durations and streams agree with what the disc was made with,
# counted as the window's lists count them; a VOB file as one scanned title.
set -euo pipefail
. "$(dirname "$0")/common.sh"
require_tools ffmpeg dvdauthor spumux python3
disc=$("$source/tools/make-test-disc.sh" --out "$build/test-discs/cli-json" --pal \
  --audio ac3-51:en --audio mp2:de --subs 2 --chapters 0,0:01 --seconds 2)
make_workspace

"$zembra" scan --json "$disc" >"$work/disc.json"
"$zembra" scan --json "$disc/VIDEO_TS/VTS_01_1.VOB" >"$work/vob.json" 2>/dev/null
python3 - "$work/disc.json" "$work/vob.json" <<'PY'
import json, sys
def check(ok, what):
    if not ok:
        sys.exit("FAIL: " + what)
disc = json.load(open(sys.argv[1]))
check(disc["kind"] == "dvd" and len(disc["titleSets"]) == 1, "one title set")
ts = disc["titleSets"][0]
check(ts["number"] == 1 and ts["readable"] and not ts["scrambled"], "title set 1 readable")
check(len(ts["vobs"]) == 1 and ts["vobs"][0]["sectors"] > 0, "its VOB file and size")
title = ts["titles"][0]
check(title["position"] == 0 and title["label"].startswith("[00] Length:00:00:02"), "title 0")
check(abs(title["duration"] - 2.0) < 0.1, "a 2 s title: %s" % title["duration"])
cells = title["cells"]
check(abs(sum(c["duration"] for c in cells) - title["duration"]) < 0.002, "cells add up")
check(all(c["firstSector"] <= c["lastSector"] for c in cells), "cell sectors")
chapters = title["chapters"]
check([c["number"] for c in chapters] == [1, 2], "two chapters: %s" % chapters)
# (a chapter point falls on the next group of pictures)
check(abs(chapters[0]["duration"] - 1.0) < 0.5, "chapter 1 lasts about 1 s: %s" % chapters)
check(abs(sum(c["duration"] for c in chapters) - title["duration"]) < 0.002, "chapters add up")
check(cells[chapters[1]["firstCell"] - 1]["chapter"] == 2, "chapter 2's first cell")
audio = title["audio"]
check([(a["position"], a["coding"], a["language"], a["channels"], a["streamId"]) for a in audio]
      == [(0, "ac3", "en", 6, 0x80), (1, "mpeg1", "de", 2, 0xC0)], "audio: %s" % audio)
subs = title["subtitles"]
check([(s["position"], s["language"], s["streamId"]) for s in subs]
      == [(1, "en", 0x20), (2, "fr", 0x21)], "subtitles: %s" % subs)
vob = json.load(open(sys.argv[2]))
check(vob["kind"] == "stream" and len(vob["titles"]) == 1, "a VOB file is one title: %s" % vob)
check(vob["titles"][0]["audio"][0]["coding"] == "ac3", "the VOB file's first track is AC-3")
# Its AC-3 and MPEG tracks share the number 0: both are listed, as the IFO lists them.
vaudio = [(a["coding"], a["streamId"]) for a in vob["titles"][0]["audio"]
          if a["coding"] in ("ac3", "mpeg1", "mpeg2", "lpcm")]
check(sorted(vaudio) == [("ac3", 0x80), ("mpeg1", 0xC0)], "the VOB file's tracks: %s" % vaudio)
PY
echo "scan --json: all checks passed"
