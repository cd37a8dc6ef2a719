#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-windows/:
# queltravine.exe (the demo: one self-contained 64-bit exe) and
# queltravine-render.exe (the offline renderer, a console program). The C
# libraries come from Debian's source packages, fetched and built once into
# build-windows/deps/. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh build-essential cmake dpkg-dev g++-mingw-w64-x86-64-posix \
    mingw-w64-tools nasm libcli11-dev
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build-windows -j"$(nproc)" --target queltravine queltravine-render
echo "Built build-windows/queltravine.exe and build-windows/queltravine-render.exe" >&2
