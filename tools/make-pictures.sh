#!/usr/bin/env bash
# Makes the demo's six pictures and the icon again into data/ (or the folder
# given).
# The output is the same byte for byte on every run; the test suite checks
# that the committed pictures are what this tool makes.
# Usage: tools/make-pictures.sh [OUTPUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-data}

tools/ensure-packages.sh build-essential cmake pkg-config libjpeg62-turbo-dev libfreetype-dev \
    fonts-dejavu-core libpng-dev

cmake -S . -B build-pictures -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_TESTS=OFF \
    -DQUELTRAVINE_BENCH=OFF >/dev/null
cmake --build build-pictures -j2 --target make_pictures >/dev/null
mkdir -p "$out"
build-pictures/tools/make_pictures "$out"
