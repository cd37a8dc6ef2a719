#!/usr/bin/env bash
# Writes NAME.gz (gzip -9) and NAME.br (brotli -q 11) beside each file of a
# static site, for hosts that serve precompressed files (docs/web.md says
# how). A copy that saves less than 5% is not kept: some of the pictures
# hardly compress. Copies from an earlier run are removed first.
# Usage: tools/precompress-site.sh SITE_FOLDER
set -euo pipefail
cd "$1"
rm -f -- *.gz *.br
for name in *; do
    [ -f "$name" ] || continue
    size=$(stat -c %s "$name")
    gzip -9 -n -c "$name" >"$name.gz"
    brotli -q 11 -c "$name" >"$name.br"
    for copy in "$name.gz" "$name.br"; do
        if [ $(($(stat -c %s "$copy") * 100)) -gt $((size * 95)) ]; then
            rm "$copy"
        fi
    done
done
