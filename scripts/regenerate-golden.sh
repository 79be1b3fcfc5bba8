#!/usr/bin/env bash
# Rewrites the hash files the show's picture and sound are held to, from a build:
#   scripts/regenerate-golden.sh [BUILD_DIR]
# Run it only once a change of the picture or the sound is known to be
# intended, and look at the frames that changed first (--verify names them).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/release}/pelmira-capture
"$tool" --hashes tests/golden/show-60fps.hashes
"$tool" --size 1600x1200 --fps 2 --hashes tests/golden/show-1600x1200-2fps.hashes
echo "wrote show-60fps.hashes and show-1600x1200-2fps.hashes to tests/golden"
