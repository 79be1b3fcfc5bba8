#!/usr/bin/env bash
# The whole show at 60 fps to an H.264 MP4 with AAC sound, against bare
# rendering of the same frames at the same size and subframes, alternated so
# that load from elsewhere falls on both; then, with no options, a PNG
# sequence for its throughput.
#   bench/capture_video.sh [BUILD_DIR] [ROUNDS] [--size WxH] [--subframes N]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-3}
shift $(($# < 2 ? $# : 2))
size=800x600 subframes=1
options=("$@")
while [ $# -gt 0 ]; do
    case $1 in
    --size) size=$2 ;;
    --subframes) subframes=$2 ;;
    *) echo "capture_video.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

seconds() { awk "BEGIN { print $2 - $1 }"; }
median() { printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
ratios=() bares=() videos=()
for ((i = 1; i <= rounds; i++)); do
    bare=$("$build/bench/capture_bare" 60 "$size" "$subframes" | awk '{ print $(NF - 3) }')
    start=$(date +%s.%N)
    "$build/pelmira-capture" "${options[@]}" "$out/show.mp4" 2>/dev/null
    video=$(seconds "$start" "$(date +%s.%N)")
    ratio=$(awk "BEGIN { print $video / $bare }")
    ratios+=("$ratio") bares+=("$bare") videos+=("$video")
    printf 'round %d: bare %.2f s, video %.2f s, video / bare = %.3f\n' "$i" "$bare" "$video" "$ratio"
done
printf '%s, subframes %s: median bare %.1f s, video %.1f s, video / bare = %.3f (budget 1.15), %d MB\n' \
    "$size" "$subframes" "$(median "${bares[@]}")" "$(median "${videos[@]}")" \
    "$(median "${ratios[@]}")" "$(du -m "$out/show.mp4" | cut -f1)"
[ ${#options[@]} -eq 0 ] || exit 0

start=$(date +%s.%N)
"$build/pelmira-capture" "$out/%05d.png" 2>/dev/null
png=$(seconds "$start" "$(date +%s.%N)")
printf 'PNG sequence: %.2f s, %.1f frames/s, %d MB\n' "$png" "$(awk "BEGIN { print 1860 / $png }")" \
    "$(du -sm "$out" | cut -f1)"
