#!/usr/bin/env bash
# Rewrites the golden frames and the full-show hash file from a build:
#   scripts/regenerate-golden.sh [BUILD_DIR]
# Run it only once a change of the picture is known to be intended: the
# references are what the golden tests hold the show to.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/release}/pelmira-capture
golden=tests/golden
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

# copy LIST PREFIX: the listed frames from $frames to $golden/PREFIXNNN.png
copy() {
    grep -v '^#' "$golden/$1" | while read -r frame _; do
        cp "$frames/$(printf %03d "$frame").png" "$golden/$2$(printf %03d "$frame").png"
    done
}
"$tool" --fps 10 "$frames/%03d.png"
copy frames.txt frame-10fps-
rm -f "$frames"/*.png
"$tool" --size 1600x1200 --fps 2 --to 25.1 "$frames/%03d.png"
copy frames-1600x1200.txt frame-1600x1200-2fps-
"$tool" --hashes "$golden/show-60fps.hashes"
echo "wrote the reference frames and show-60fps.hashes to $golden"
