#!/usr/bin/env bash
# Builds and runs the demo. Arguments go to the player (-w: windowed).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The player is not built yet: only the timeline and the synthesiser exist so far." >&2
echo "Run tools/test.sh to build and test them." >&2
exit 1
