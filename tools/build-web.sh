#!/usr/bin/env bash
# Builds the browser site into build-web/site/: index.html, page.js, the
# module (queltravine.js, queltravine.wasm), the audio worklet
# (synth_worklet.js, synth.wasm), the six pictures, the poster frame, the web
# app manifest with its icons and the service worker (sw.js), with
# precompressed copies (NAME.gz, NAME.br) for hosts that serve them. Uses
# Debian's emscripten; libjpeg-turbo is made from Debian's source package
# once, into build-web/deps/. The poster is drawn by a native renderer, built
# first into build-web/native/. Extra arguments go to CMake's configure step.
# QUELTRAVINE_SITE_URL=https://host/path/ makes the link preview's URLs
# absolute (docs/web.md).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh emscripten cmake dpkg-dev gzip brotli build-essential pkg-config \
    libjpeg62-turbo-dev libpng-dev libcli11-dev
cmake -S . -B build-web/native -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_PLAYER=OFF \
    -DQUELTRAVINE_TESTS=OFF -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_TOOLS=OFF >/dev/null
cmake --build build-web/native -j"$(nproc)" --target queltravine-render
# Debian's emscripten runs node scripts that need Debian's node modules.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release \
    -DQUELTRAVINE_POSTER_RENDERER="$PWD/build-web/native/queltravine-render" \
    -DQUELTRAVINE_SITE_URL="${QUELTRAVINE_SITE_URL:-}" "$@" >/dev/null
cmake --build build-web -j"$(nproc)"
echo "Built the site in build-web/site/" >&2
