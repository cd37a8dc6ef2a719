#!/usr/bin/env bash
# Builds the three packages into dist/:
#   queltravine_VERSION_amd64.deb          (CPack; dependencies from the binaries)
#   queltravine-VERSION-windows-x64.zip    (the two exes, the pictures, README.txt)
#   queltravine-VERSION-web.zip            (the static site, with its .gz and .br copies)
# Installs what it needs; the Windows and web builds are the usual ones.
# --site-url URL (or QUELTRAVINE_SITE_URL=URL): where the web bundle will be
# hosted, for the absolute links of its preview when shared (docs/web.md).
# Usage: tools/package.sh [--site-url URL]
set -euo pipefail
if [ "${1:-}" = "--site-url" ] && [ -n "${2:-}" ]; then
    export QUELTRAVINE_SITE_URL="$2"
elif [ $# -gt 0 ]; then
    echo "Usage: tools/package.sh [--site-url URL]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(Queltravine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tools/ensure-packages.sh build-essential cmake pkg-config dpkg-dev file zip \
    libjpeg62-turbo-dev libpng-dev libcli11-dev libsdl2-dev
mkdir -p dist

echo "== Debian package" >&2
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DQUELTRAVINE_TESTS=OFF \
    -DQUELTRAVINE_BENCH=OFF -DQUELTRAVINE_TOOLS=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
ls dist/queltravine_"$version"_amd64.deb

echo "== Windows zip" >&2
tools/build-windows.sh >/dev/null
stage=$(mktemp -d)
folder="$stage/queltravine-$version-windows-x64"
mkdir "$folder"
cp build-windows/queltravine.exe build-windows/queltravine-render.exe data/*.jpg "$folder/"
sed "s/@VERSION@/$version/" packaging/windows-readme.txt | sed 's/$/\r/' >"$folder/README.txt"
sed 's/$/\r/' LICENSE >"$folder/LICENSE.txt"
rm -f "dist/queltravine-$version-windows-x64.zip"
(cd "$stage" && zip -qr -X "$OLDPWD/dist/queltravine-$version-windows-x64.zip" "$(basename "$folder")")
rm -rf "$stage"
ls "dist/queltravine-$version-windows-x64.zip"

echo "== Web bundle" >&2
tools/build-web.sh >/dev/null
rm -f "dist/queltravine-$version-web.zip"
(cd build-web/site && zip -qr -X "$OLDPWD/dist/queltravine-$version-web.zip" .)
ls "dist/queltravine-$version-web.zip"
