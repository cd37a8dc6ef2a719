#!/usr/bin/env bash
# Builds everything and runs the whole test suite: a normal build with
# warnings as errors (unit tests and the player's end-to-end cases on a
# virtual X server), a formatting check, the unit tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded parts under
# ThreadSanitizer. The Windows build is cross-compiled and tested under Wine
# (tools/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

tools/ensure-packages.sh build-essential cmake pkg-config libgtest-dev libbenchmark-dev \
    clang-format libjpeg62-turbo-dev libjpeg-turbo-progs libfreetype-dev fonts-dejavu-core libpng-dev \
    libsdl2-dev libcli11-dev python3 xvfb xdotool imagemagick x11-utils openbox ffmpeg

echo "== Release build (-Werror)" >&2
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_WERROR=ON >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== Windows: cross build, then the demo and the renderer under Wine" >&2
windows_started=$(date +%s)
tools/test-windows.sh build-test/queltravine-render
echo "Windows stage took $(($(date +%s) - windows_started)) s" >&2

echo "== Formatting" >&2
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUELTRAVINE_WERROR=ON \
    -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
# The end-to-end cases preload their own probes, which cannot go before the
# sanitizer's runtime; they ran against the Release build above.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE e2e

echo "== ThreadSanitizer (the audio thread, the renderer's frame writers)" >&2
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUELTRAVINE_WERROR=ON \
    -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_TOOLS=OFF -DQUELTRAVINE_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target audio_output_test render_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -L 'audio|render'


echo "All tests passed." >&2
