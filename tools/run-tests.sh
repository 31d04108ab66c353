#!/usr/bin/env bash
# The whole test suite: unit and oracle tests, the kernel tests again with the
# plain kernels forced, then the fuzz targets over their corpus (clang build).
# In CI (CI set) the suite also runs once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${JOBS:-$(nproc)}
export ZEMBRA_SHUTDOWN_COMMAND=${ZEMBRA_SHUTDOWN_COMMAND:-true}

run_ctest() {
    ctest --test-dir "$1" --output-on-failure --timeout 1500 -j"$jobs" "${@:2}"
}

run_ctest "$build"
echo "plain kernels:"
ZEMBRA_CPU=plain run_ctest "$build" -R '[Kk]ernel'

if [ -n "${CI:-}" ]; then
    echo "sanitizers:"
    cmake -S . -B "$build-asan" -DZEMBRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build-asan" -j"$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$build-asan"
fi

if command -v clang++ >/dev/null && ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
    CC=clang CXX=clang++ cmake -S . -B "$build-fuzz" -DZEMBRA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build-fuzz" -j"$jobs"
    for f in "$build-fuzz"/tests/fuzz/fuzz_*; do
        [ -x "$f" ] || continue
        name=$(basename "$f")
        corpus=tests/fuzz/corpus/${name#fuzz_}
        [ -d "$corpus" ] || continue
        echo "fuzz corpus: $name"
        "$f" -runs=0 "$corpus"
    done
fi
