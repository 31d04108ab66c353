#!/usr/bin/env bash
# The whole test suite: unit and oracle tests, the kernel tests again with the
# plain kernels forced, then the fuzz targets over their corpus (clang build).
# In CI (CI set) the suite also runs once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, the programs are built as Debug, Release and
# clang Release, and the Release build becomes a Debian package that is
# installed, used and removed. Each phase prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${JOBS:-$(nproc)}
export ZEMBRA_SHUTDOWN_COMMAND=${ZEMBRA_SHUTDOWN_COMMAND:-true}

run_ctest() {
    ctest --test-dir "$1" --output-on-failure --timeout 1500 -j"$jobs" "${@:2}"
}
# A new build folder gets Ninja; an existing one keeps its generator.
generator() {
    if [ ! -f "$1/CMakeCache.txt" ] && command -v ninja >/dev/null; then echo "-G Ninja"; fi
}
# "--target ..." for the targets of a Ninja tree whose names match a pattern
# (nothing for another generator: everything is built then).
ninja_targets() {
    if [ -f "$1/build.ninja" ]; then
        local targets
        targets=$(ninja -C "$1" -t targets all | grep -E "^($2): phony" | cut -d: -f1 | tr '\n' ' ')
        [ -z "$targets" ] || echo "--target $targets"
    fi
}
# The test executables and the program they call, without the benchmarks.
suite_targets() { ninja_targets "$1" 'test_[a-z0-9_]+|zembra'; }
# The program and the test executables that hold threaded tests.
thread_test_targets() { ninja_targets "$1" 'test_(app|encoder|avi)|zembra'; }
phase_start=$SECONDS
phase() {
    echo "== $1 (previous phase: $((SECONDS - phase_start)) s)"
    phase_start=$SECONDS
}
# Another build type or compiler, programs only (no tests): a warning that
# only -O3 or clang finds fails here rather than on a user's machine.
build_programs() {
    local dir=$1 type=$2
    shift 2
    # shellcheck disable=SC2046
    env "$@" cmake -S . -B "$dir" $(generator "$dir") -DCMAKE_BUILD_TYPE="$type" \
        -DZEMBRA_TESTS=OFF -DZEMBRA_WERROR=ON >/dev/null
    cmake --build "$dir" -j"$jobs"
}

phase "tests"
run_ctest "$build"
phase "plain kernels"
ZEMBRA_CPU=plain run_ctest "$build" -R '[Kk]ernel'
# The window and its dialogs drawn under Xvfb (when the window was built).
if [ -n "$(find "$build" -name zembra-gui -type f 2>/dev/null | head -n 1)" ]; then
    phase "screenshots"
    tools/screenshots.sh "$build" "$build/screenshots"
    phase "window keys"
    tools/gui-keys.sh "$build"
fi

if [ -n "${CI:-}" ]; then
    phase "sanitizer build"
    # clang builds the instrumented tree about twice as fast as g++ (and the
    # code meets a second compiler); only what the suite runs is built.
    compilers=()
    if command -v clang++ >/dev/null; then compilers=(CC=clang CXX=clang++); fi
    # shellcheck disable=SC2046
    env "${compilers[@]}" cmake -S . -B "$build-asan" $(generator "$build-asan") \
        -DZEMBRA_SANITIZE=ON -DZEMBRA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    # shellcheck disable=SC2046
    cmake --build "$build-asan" -j"$jobs" $(suite_targets "$build-asan")
    phase "sanitizer tests"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$build-asan"
fi

if [ -n "${CI:-}" ]; then
    phase "thread sanitizer build"
    # Only the tests of the threads (their names say "Thread") and the
    # program they run; the window is left out.
    # shellcheck disable=SC2046
    env "${compilers[@]}" cmake -S . -B "$build-tsan" $(generator "$build-tsan") \
        -DZEMBRA_TSAN=ON -DZEMBRA_GUI=OFF -DZEMBRA_WERROR=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    # shellcheck disable=SC2046
    cmake --build "$build-tsan" -j"$jobs" $(thread_test_targets "$build-tsan")
    phase "thread sanitizer tests"
    # Not the tests that count the process's threads: the sanitizer's
    # runtime keeps a thread of its own.
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest "$build-tsan" -R '[Tt]hread' \
        -E 'NoThreadBehind'
fi

if [ -n "${CI:-}" ]; then
    phase "other build types"
    build_programs "$build-debug" Debug
    build_programs "$build-release" Release
    # (clang's RelWithDebInfo is the sanitizer build above)
    if command -v clang++ >/dev/null; then
        build_programs "$build-clang-release" Release CC=clang CXX=clang++
    fi
fi

if [ -n "${CI:-}" ]; then
    # The Release build above, as a Debian package: built, installed with its
    # dependencies, used as a user would, removed again.
    phase "package"
    rm -f "$build-release"/zembra_*.deb
    (cd "$build-release" && cpack -G DEB >/dev/null)
    packaging/check-package.sh "$build-release"/zembra_*.deb
fi

if command -v clang++ >/dev/null && ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
    phase "fuzz build"
    # shellcheck disable=SC2046
    CC=clang CXX=clang++ cmake -S . -B "$build-fuzz" $(generator "$build-fuzz") -DZEMBRA_FUZZ=ON \
        -DZEMBRA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build-fuzz" -j"$jobs"
    phase "fuzz corpus"
    for f in "$build-fuzz"/tests/fuzz/fuzz_*; do
        [ -x "$f" ] || continue
        name=$(basename "$f")
        corpus=tests/fuzz/corpus/${name#fuzz_}
        [ -d "$corpus" ] || continue
        echo "fuzz corpus: $name"
        "$f" -runs=0 "$corpus"
    done
fi
phase "done"
