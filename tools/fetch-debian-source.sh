#!/usr/bin/env bash
# Fetches and unpacks one Debian source package, for building it with another
# compiler. Uses a private apt configuration of source indexes under DEST, so
# the machine's own apt setup is left alone.
# Usage: tools/fetch-debian-source.sh PACKAGE DEST VERSION
# VERSION is the Debian version the build pins, without its epoch (as in the
# .dsc file's name); nothing else is taken. Prints the unpacked source folder
# on its last line.
set -euo pipefail
name="$1"
dest="$(mkdir -p "$2" && cd "$2" && pwd)"
pinned="$3"

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
dsc="${name}_${pinned}.dsc"
if [ ! -f "$dsc" ]; then
    echo "Fetching the Debian source index ($suite) and the source package $name $pinned" >&2
    apt-get "${apt_private[@]}" update >&2
    # The archive names the version with its epoch, if it has one; apt checks
    # every file against the archive's signed index.
    version="$(apt-cache "${apt_private[@]}" madison "$name" | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
        awk -v pinned="$pinned" '{ v = $0; sub(/^[0-9]+:/, "", v) } v == pinned { print; exit }')"
    if [ -z "$version" ] || ! apt-get "${apt_private[@]}" source --download-only "$name=$version" >&2; then
        echo "Cannot download the Debian source package $name $pinned: the archive carries" >&2
        apt-cache "${apt_private[@]}" madison "$name" >&2 || true
        echo "Pin one of these in cmake/debian-source.cmake to build with it." >&2
        exit 1
    fi
fi
folder="$dest/$(basename "$dsc" .dsc)"
if [ ! -d "$folder" ]; then
    rm -rf "$folder.tmp"
    dpkg-source --no-check -x "$dsc" "$folder.tmp" >&2
    mv "$folder.tmp" "$folder"
fi
echo "$folder"
