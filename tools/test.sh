#!/usr/bin/env bash
# Builds everything and runs the whole test suite: a normal build with
# warnings as errors, a formatting check, and the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

tools/ensure-packages.sh build-essential cmake pkg-config libgtest-dev libbenchmark-dev \
    clang-format libjpeg62-turbo-dev libjpeg-turbo-progs libfreetype-dev fonts-dejavu-core libpng-dev

echo "== Release build (-Werror)" >&2
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_WERROR=ON >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== Formatting" >&2
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUELTRAVINE_WERROR=ON \
    -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "All tests passed." >&2
