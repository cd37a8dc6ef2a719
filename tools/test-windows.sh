#!/usr/bin/env bash
# The Windows build and its tests under Wine: the demo on virtual X servers
# (picture, music, keys, drag, message boxes, both display modes) and the
# Windows renderer against the Linux one. Called by tools/test.sh; give it the
# Linux renderer to compare with as the first argument.
# Wine needs about 1 GB; when it cannot be installed the Wine cases are
# skipped with a line saying so, and only the cross build is checked.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_render="${1:-}"

tools/build-windows.sh -DQUELTRAVINE_WERROR=ON

if ! tools/ensure-packages.sh wine wine64 xvfb xdotool imagemagick x11-utils \
        libjpeg-turbo-progs pulseaudio pulseaudio-utils python3-pytest; then
    echo "SKIPPED: the Windows tests under Wine (Wine or pytest could not be installed)" >&2
    exit 0
fi
args=(--windows-exe build-windows/queltravine.exe --wine-work build-windows/wine-tests --data data
    --windows-render build-windows/queltravine-render.exe)
[ -n "$linux_render" ] && args+=(--linux-render "$linux_render")
status=0
# Debian's pytest, under the system Python whatever python3 is on PATH.
pytest-3 tests/wine -v --durations=0 --all-skipped-exit 77 "${args[@]}" || status=$?
if [ "$status" -eq 77 ]; then
    echo "SKIPPED: the Windows tests under Wine (tools missing, see above)" >&2
    exit 0
fi
exit "$status"
