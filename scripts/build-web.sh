#!/usr/bin/env bash
# Builds the show for the browser with Debian's emscripten:
#   scripts/build-web.sh [OUT_DIR]      (default build/web)
# OUT_DIR then holds index.html, pelmira.js and pelmira.wasm: a static site
# any web server can serve. The intermediate build is in OUT_DIR-build; with
# PELMIRA_WEB_TESTS=1 it also holds the show's code built for node.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/web}
work=$out-build
# Debian's emcc runs its JavaScript tools on the system's node, which finds
# their modules (acorn, terser) only there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if [ ! -f "$work/CMakeCache.txt" ]; then
    emcmake cmake -S . -B "$work" -DCMAKE_BUILD_TYPE=Release \
        -DPELMIRA_TESTS="${PELMIRA_WEB_TESTS:-0}" -DPELMIRA_BENCH=OFF >/dev/null
fi
targets=(pelmira)
[ "${PELMIRA_WEB_TESTS:-0}" = 1 ] && targets+=(web_show_hashes web_gl_calls)
cmake --build "$work" -j2 --target "${targets[@]}"
mkdir -p "$out"
# The page is ours: emcc's own HTML output crashes in Debian's minifier at -O2.
cp platform/web/index.html "$out/"
cp "$work/pelmira.js" "$work/pelmira.wasm" "$out/"
if [ "${PELMIRA_WEB_TESTS:-0}" = 1 ]; then
    mkdir -p "$out/tests"
    cp tests/web/gl_calls.html "$work"/tests/web/web_gl_calls.{js,wasm} "$out/tests/"
fi
total=0
for f in index.html pelmira.js pelmira.wasm; do
    size=$(stat -c %s "$out/$f")
    total=$((total + size))
    printf '%8d  %s\n' "$size" "$out/$f"
done
printf '%8d  total\n' "$total"
