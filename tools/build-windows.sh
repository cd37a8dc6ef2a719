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
# The "windows" preset is the CI's (warnings as errors); here they are not,
# unless the arguments say so.
cmake --preset windows -DQUELTRAVINE_WERROR=OFF "$@" >/dev/null
cmake --build --preset windows -j"$(nproc)"
echo "Built build-windows/queltravine.exe and build-windows/queltravine-render.exe" >&2
