#!/usr/bin/env bash
# Whether a whole-show capture gains from rendering it in two processes at
# once, each on its own range of frames and reaching its first frame the
# short way, on a machine where llvmpipe already spreads each frame over
# every core. One process against two, alternated; the frames' hashes are
# checked to be the same both ways. Wall time is the measure.
#   bench/capture_split.sh [BUILD_DIR] [ROUNDS] [SPLIT_SECONDS]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-3}
split=${3:-12}
tool=$build/pelmira-capture
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
frames() { grep -hv '^[#a-z]' "$@"; }
ones=() twos=() ratios=()
for ((i = 1; i <= rounds; i++)); do
    start=$(now)
    "$tool" --hashes "$out/one" 2>/dev/null
    one=$(awk "BEGIN { print $(now) - $start }")
    start=$(now)
    "$tool" --to "$split" --hashes "$out/a" 2>/dev/null &
    first=$!
    "$tool" --from "$split" --hashes "$out/b" 2>/dev/null
    wait "$first"
    two=$(awk "BEGIN { print $(now) - $start }")
    [ "$(frames "$out/one")" = "$(frames "$out/a" "$out/b")" ] ||
        { echo "capture_split.sh: the two ways' frames differ" >&2; exit 1; }
    ones+=("$one") twos+=("$two") ratios+=("$(awk "BEGIN { print $two / $one }")")
    printf 'round %d: one process %.1f s, two from %s s %.1f s: %.3f\n' "$i" "$one" "$split" \
        "$two" "${ratios[-1]}"
done
printf 'two processes / one, median of %d: %.3f (one %.1f s, two %.1f s)\n' "$rounds" \
    "$(median "${ratios[@]}")" "$(median "${ones[@]}")" "$(median "${twos[@]}")"
