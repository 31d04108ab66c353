#!/usr/bin/env bash
# The whole test suite: unit and oracle tests, then the fuzz targets over
# their corpus (clang build).
set -euo pipefail
build=${1:-build}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if command -v clang++ >/dev/null && ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S . -B "$build-fuzz" -DZEMBRA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build-fuzz" -j"$(nproc)"
  for f in "$build-fuzz"/tests/fuzz/fuzz_*; do
    name=$(basename "$f")
    corpus=tests/fuzz/corpus/${name#fuzz_}
    [ -d "$corpus" ] || continue
    echo "fuzz corpus: $name"
    "$f" -runs=0 "$corpus"
  done
fi
