#!/usr/bin/env bash
# Install what is missing, build, and run the show; where there is no screen,
# render it to a video with its soundtrack instead. ./run.sh --web builds the
# web page and serves it on 127.0.0.1 until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
pelmira_install_missing
if [ "${1:-}" = --web ]; then
    scripts/build-web.sh build/web
    port=${PELMIRA_WEB_PORT:-8031}
    echo "run.sh: the show is at http://127.0.0.1:$port/ (Ctrl+C stops the server)"
    exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web
fi
pelmira_build build/release Release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set): rendering the show to pelmira.mp4"
    ./build/release/pelmira-capture pelmira.mp4
    echo "run.sh: wrote $(pwd)/pelmira.mp4 (31 s, 800x600, 60 fps, with its soundtrack)"
    exit 0
fi
exec ./build/release/pelmira
