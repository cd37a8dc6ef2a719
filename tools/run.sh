#!/usr/bin/env bash
# Builds the player and runs it from data/, where its pictures are. The
# arguments go to the player: -w runs it in a window, none takes the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh build-essential cmake pkg-config libjpeg62-turbo-dev libpng-dev libcli11-dev libsdl2-dev
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_TESTS=OFF \
    -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_TOOLS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target queltravine >&2
cd data
exec ../build-run/queltravine "$@"
