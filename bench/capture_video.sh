#!/usr/bin/env bash
# The whole show at 60 fps to an H.264 MP4 with AAC sound, against bare
# rendering of the same 1,860 frames, alternated so that load from elsewhere
# falls on both; then a PNG sequence for its throughput.
#   bench/capture_video.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

seconds() { awk "BEGIN { print $2 - $1 }"; }
ratios=()
for ((i = 1; i <= rounds; i++)); do
    bare=$("$build/bench/capture_bare" 60 | awk '{ print $(NF - 3) }')
    start=$(date +%s.%N)
    "$build/pelmira-capture" "$out/show.mp4"
    video=$(seconds "$start" "$(date +%s.%N)")
    ratio=$(awk "BEGIN { print $video / $bare }")
    ratios+=("$ratio")
    printf 'round %d: bare %.2f s, video %.2f s, video / bare = %.3f\n' "$i" "$bare" "$video" "$ratio"
done
printf 'median video / bare = %.3f (budget 1.15)\n' \
    "$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')"

start=$(date +%s.%N)
"$build/pelmira-capture" "$out/%05d.png"
png=$(seconds "$start" "$(date +%s.%N)")
printf 'PNG sequence: %.2f s, %.1f frames/s, %d MB\n' "$png" "$(awk "BEGIN { print 1860 / $png }")" \
    "$(du -sm "$out" | cut -f1)"
