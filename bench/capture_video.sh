#!/usr/bin/env bash
# The whole show at 60 fps to an H.264 MP4 with AAC sound, against bare
# rendering of the same frames at the same size and subframes, alternated so
# that load from elsewhere falls on both; then, with no options, a PNG
# sequence for its throughput. Wall time is the budget's measure; CPU time
# (the process, its rendering threads and ffmpeg) shows the work itself where
# other load on the machine makes wall time swing.
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

# timed COMMAND...: "wall cpu" in seconds
timed() { /usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{ print $1, $2 + $3 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
ratio() { awk "BEGIN { print $1 / $2 }"; }
walls=() cpus=()
for ((i = 1; i <= rounds; i++)); do
    read -r bare bareCpu < <(timed "$build/bench/capture_bare" 60 "$size" "$subframes")
    read -r video videoCpu < <(timed "$build/pelmira-capture" "${options[@]}" "$out/show.mp4")
    walls+=("$(ratio "$video" "$bare")") cpus+=("$(ratio "$videoCpu" "$bareCpu")")
    printf 'round %d: bare %.1f s (CPU %.1f s), video %.1f s (CPU %.1f s): %.3f wall, %.3f CPU\n' \
        "$i" "$bare" "$bareCpu" "$video" "$videoCpu" "${walls[-1]}" "${cpus[-1]}"
done
printf '%s, subframes %s: video / bare median %.3f wall (budget 1.15), %.3f CPU; %s\n' \
    "$size" "$subframes" "$(median "${walls[@]}")" "$(median "${cpus[@]}")" \
    "$(du -h "$out/show.mp4" | cut -f1)"
[ ${#options[@]} -eq 0 ] || exit 0

read -r png _ < <(timed "$build/pelmira-capture" "$out/%05d.png")
printf 'PNG sequence: %.2f s, %.1f frames/s, %d MB\n' "$png" "$(ratio 1860 "$png")" \
    "$(du -sm "$out" | cut -f1)"
