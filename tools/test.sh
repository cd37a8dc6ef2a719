#!/usr/bin/env bash
# Builds everything and runs the whole test suite: a normal build with
# warnings as errors (unit tests and the player's end-to-end cases on a
# virtual X server), a fixed run of the picture fuzzer, a formatting check,
# the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the threaded parts under ThreadSanitizer. In the two sanitizer stages
# the renderer starts slower on purpose (CMakePresets.json), as on a slow
# machine. The Windows build is cross-compiled and tested under Wine
# (tools/test-windows.sh), the browser build is checked in headless Chromium,
# Firefox and WebKit (tests/web, under pytest), and the packages of
# tools/package.sh are installed and used (tests/package/package_test.py).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

tools/ensure-packages.sh build-essential cmake pkg-config libgtest-dev libbenchmark-dev \
    clang-format libjpeg62-turbo-dev libjpeg-turbo-progs libfreetype-dev fonts-dejavu-core libpng-dev \
    libsdl2-dev libcli11-dev libmpfr-dev python3 python3-pytest python3-websocket xvfb xdotool \
    imagemagick x11-utils openbox ffmpeg pulseaudio pulseaudio-utils

# Each stage is a preset of CMakePresets.json: `cmake --preset NAME`,
# `cmake --build --preset NAME` and `ctest --preset NAME` reproduce it alone.
# A plain build needs no network, as distributions build packages: the
# release build is configured and built with it cut off.
offline() {
    if unshare -n true 2>/dev/null; then
        unshare -n "$@"
    else
        echo "NOTE: cannot cut the network off here (unshare -n needs root); building with it" >&2
        "$@"
    fi
}
echo "== Release build (-Werror), configured and built without network" >&2
offline cmake --preset release >/dev/null
offline cmake --build --preset release -j"$jobs"
ctest --preset release -j"$jobs"

echo "== Fuzzing: the picture loader over an instrumented libjpeg-turbo, a fixed run" >&2
tools/ensure-packages.sh clang
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
ctest --preset fuzz

# Everything but the player builds; the renderer's cases run again (the rest
# ran in the release stage, built the same way).
echo "== Without SDL2: the renderer, the core tests and the benchmarks still build" >&2
# pkg-config is shown only libjpeg and libpng (and zlib, which libpng needs),
# and MPFR (with GMP) for the maths tests.
rm -rf build-nosdl-pkgconfig && mkdir build-nosdl-pkgconfig
for module in libjpeg libpng zlib mpfr gmp; do
    cp "$(pkg-config --variable=pcfiledir "$module")/$module.pc" build-nosdl-pkgconfig/
done
configured=$(cmake --preset no-sdl 2>&1) || { echo "$configured" >&2; exit 1; }
grep -F "SDL2 not found" <<<"$configured" >&2
cmake --build --preset no-sdl -j"$jobs"
test -x build-nosdl/queltravine-render && test ! -e build-nosdl/queltravine
ctest --preset no-sdl -j"$jobs"

echo "== Windows: cross build, then the demo and the renderer under Wine" >&2
windows_started=$(date +%s)
tools/test-windows.sh build-test/queltravine-render
echo "Windows stage took $(($(date +%s) - windows_started)) s" >&2

echo "== Browser: the site built with emscripten, checked in Chromium, Firefox and WebKit" >&2
if tools/ensure-packages.sh emscripten chromium imagemagick libjpeg-turbo-progs; then
    # Firefox ESR (driven over WebDriver BiDi) and WebKitGTK's MiniBrowser
    # (through WebKitWebDriver and Selenium): their cases skip, saying so,
    # when these cannot be installed.
    if ! tools/ensure-packages.sh firefox-esr webkit2gtk-driver python3-selenium; then
        echo "SKIPPED: Firefox ESR and WebKitGTK could not be installed; their cases skip" >&2
    fi
    tools/build-web.sh -DQUELTRAVINE_WERROR=ON
    web_status=0
    # Debian's pytest, under the system Python whatever python3 is on PATH.
    pytest-3 tests/web -v -rs --durations=0 --all-skipped-exit 77 --site build-web/site \
        --linux-render build-test/queltravine-render --data data \
        --engines chromium,firefox,webkit || web_status=$?
    if [ "$web_status" -eq 77 ]; then
        echo "SKIPPED: the browser tests (tools missing, see above)" >&2
    elif [ "$web_status" -ne 0 ]; then
        exit "$web_status"
    fi
else
    echo "SKIPPED: the browser build and tests (emscripten or Chromium could not be installed)" >&2
fi

echo "== The same show everywhere: Linux, Windows under Wine and the browser, byte for byte" >&2
identity_args=(--linux-render build-test/queltravine-render --data data
    --windows-render build-windows/queltravine-render.exe)
[ -d build-windows/wine-tests/prefix ] && identity_args+=(--wine-prefix "$PWD/build-windows/wine-tests/prefix")
[ -f build-web/site/index.html ] && identity_args+=(--site build-web/site)
identity_status=0
tests/identity/same_everywhere.py "${identity_args[@]}" || identity_status=$?
if [ "$identity_status" -eq 77 ]; then
    echo "SKIPPED: part of the comparison across platforms (see above)" >&2
elif [ "$identity_status" -ne 0 ]; then
    exit "$identity_status"
fi

echo "== Packages: the .deb, the Windows zip and the web bundle, installed and used" >&2
tools/package.sh
tools/ensure-packages.sh lintian desktop-file-utils man-db
package_status=0
python3 tests/package/package_test.py || package_status=$?
if [ "$package_status" -eq 77 ]; then
    echo "SKIPPED: the package tests (they install the .deb and need root)" >&2
elif [ "$package_status" -ne 0 ]; then
    exit "$package_status"
fi

echo "== Formatting" >&2
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
# The end-to-end cases preload their own probes, which cannot go before the
# sanitizer's runtime; they ran against the Release build above.
ctest --preset asan -j"$jobs"

echo "== ThreadSanitizer (the audio thread, the renderer's frame writers)" >&2
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan -j"$jobs"

echo "All tests passed." >&2
