#!/usr/bin/env bash
# The whole show at 60 fps to an H.264 MP4 with AAC sound, against bare
# rendering of the same frames, side by side in one run.
#   bench/capture_video.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build/release}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$build/bench/capture_bare" 60 | tee "$out/bare.txt"
bare=$(awk '{print $(NF-3)}' "$out/bare.txt")

start=$(date +%s.%N)
"$build/pelmira-capture" "$out/show.mp4"
end=$(date +%s.%N)
video=$(awk "BEGIN { print $end - $start }")
printf 'video capture: %.2f s (%s bytes)\n' "$video" "$(stat -c %s "$out/show.mp4")"

start=$(date +%s.%N)
"$build/pelmira-capture" "$out/%05d.png"
end=$(date +%s.%N)
png=$(awk "BEGIN { print $end - $start }")
printf 'PNG sequence: %.2f s, %.1f frames/s (%s bytes)\n' "$png" "$(awk "BEGIN { print 1860 / $png }")" \
    "$(du -sb "$out" | cut -f1)"

printf 'video / bare = %.3f (budget 1.15)\n' "$(awk "BEGIN { print $video / $bare }")"
