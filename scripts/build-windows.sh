#!/usr/bin/env bash
# Cross-builds the show for 64-bit Windows with Debian's mingw-w64 and packs
# it: build/windows/pelmira.exe and build/windows/pelmira-VERSION-windows-x86_64.zip
# (the program, a README.txt and the copyright). Only the show: the capture
# tool, the tests and the benchmarks are Linux's.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
pelmira_install_missing

out=build/windows
cmake -S . -B "$out/cmake" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPELMIRA_TESTS=OFF -DPELMIRA_BENCH=OFF >/dev/null
cmake --build "$out/cmake" -j"$(nproc)" --target pelmira
cp "$out/cmake/pelmira.exe" "$out/pelmira.exe"

version=$(sed -n 's/^project(pelmira VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage="$out/pelmira-$version-windows-x86_64"
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
cp "$out/pelmira.exe" "$stage/"
# Notepad before Windows 10 shows a file of bare line feeds as one line.
sed 's/$/\r/' docs/README-windows.txt >"$stage/README.txt"
sed 's/$/\r/' docs/copyright >"$stage/COPYRIGHT.txt"
(cd "$out" && zip -qrX "pelmira-$version-windows-x86_64.zip" "pelmira-$version-windows-x86_64")
rm -rf "$stage"
echo "$out/pelmira.exe"
echo "$out/pelmira-$version-windows-x86_64.zip"
