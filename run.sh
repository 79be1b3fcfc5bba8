#!/usr/bin/env bash
# Install what is missing, build, and run the show.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
pelmira_install_missing
pelmira_build build/release Release

./build/release/pelmira-capture soundtrack.wav
echo "Wrote the soundtrack to $(pwd)/soundtrack.wav"
