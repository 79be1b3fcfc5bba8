#!/usr/bin/env bash
# Install what is missing, build, and run the show.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
pelmira_install_missing
pelmira_build build/release Release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set); the show needs a screen" >&2
    exit 1
fi
exec ./build/release/pelmira
