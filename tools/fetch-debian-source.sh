#!/usr/bin/env bash
# Fetches and unpacks one Debian source package, for building it with another
# compiler. Uses a private apt configuration of source indexes under DEST, so
# the machine's own apt setup is left alone.
# Usage: tools/fetch-debian-source.sh PACKAGE DEST [UPSTREAM-RELEASE]
# Takes the newest Debian version of the package (of the given upstream
# release, when one is given). Prints the unpacked source folder on its last line.
set -euo pipefail
name="$1"
dest="$(mkdir -p "$2" && cd "$2" && pwd)"
release="${3:-}"

# The archive and suites the machine already installs binaries from.
suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
keyring="/usr/share/keyrings/debian-archive-keyring.gpg"

mkdir -p "$dest/sources.list.d" "$dest/lists/partial" "$dest/download"
cat >"$dest/sources.list.d/debian-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: $keyring

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $suite-security
Components: main
Signed-By: $keyring
EOF

apt_private=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dest/sources.list.d"
    -o "Dir::State::Lists=$dest/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root -q)

cd "$dest/download"
if ! compgen -G "${name}_*.dsc" >/dev/null; then
    echo "Fetching the Debian source index ($suite) and the source package $name" >&2
    apt-get "${apt_private[@]}" update >&2
    # Newest first; a mirror may not carry the newest yet, so older ones are
    # tried too. apt checks every file against the archive's signed index.
    versions="$(apt-cache "${apt_private[@]}" madison "$name" | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
        sort -u -r -V)"
    for version in $versions; do
        upstream="${version#*:}"
        upstream="${upstream%-*}"
        [ -n "$release" ] && [ "$upstream" != "$release" ] && continue
        if apt-get "${apt_private[@]}" source --download-only "$name=$version" >&2; then
            break
        fi
        rm -f "${name}"_*
    done
    if ! compgen -G "${name}_*.dsc" >/dev/null; then
        echo "Cannot download the Debian source package $name ${release:+(release $release)}" >&2
        exit 1
    fi
fi
dsc="$(ls "${name}"_*.dsc | head -n 1)"
folder="$dest/$(basename "$dsc" .dsc)"
if [ ! -d "$folder" ]; then
    rm -rf "$folder.tmp"
    dpkg-source --no-check -x "$dsc" "$folder.tmp" >&2
    mv "$folder.tmp" "$folder"
fi
echo "$folder"
