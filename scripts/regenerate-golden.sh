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

"$tool" --fps 10 "$frames/%03d.png"
grep -v '^#' "$golden/frames.txt" | while read -r frame _; do
    cp "$frames/$(printf %03d "$frame").png" "$golden/frame-10fps-$(printf %03d "$frame").png"
done
"$tool" --hashes "$golden/show-60fps.hashes"
echo "wrote the reference frames and show-60fps.hashes to $golden"
