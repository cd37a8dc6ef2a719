#!/usr/bin/env bash
# Builds the browser site into build-web/site/: index.html, page.js, the
# module (queltravine.js, queltravine.wasm), the audio worklet
# (synth_worklet.js, synth.wasm) and the six pictures, with precompressed
# copies (NAME.gz, NAME.br) for hosts that serve them. Uses Debian's
# emscripten; libjpeg-turbo is made from Debian's source package once, into
# build-web/deps/. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh emscripten cmake dpkg-dev gzip brotli
# Debian's emscripten runs node scripts that need Debian's node modules.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build-web -j"$(nproc)"
echo "Built the site in build-web/site/" >&2
