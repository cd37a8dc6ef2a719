#!/usr/bin/env bash
# Builds the site and serves it on 127.0.0.1 until interrupted; open the URL
# it prints (any static host works the same: copy build-web/site/).
# Usage: tools/run-web.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
port="${1:-8640}"
tools/build-web.sh
echo "Serving the demo at http://127.0.0.1:$port/ (Ctrl-C stops)" >&2
exec python3 -m http.server --bind 127.0.0.1 --directory build-web/site "$port"
