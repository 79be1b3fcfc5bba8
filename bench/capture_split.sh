#!/usr/bin/env bash
# Whether a whole-show capture gains from rendering it in two processes at
# once, each on its own range of frames and reaching its first frame the
# short way, on a machine where llvmpipe already spreads each frame over
# every core. One process against two, alternated; the frames' hashes are
# checked to be the same both ways. Wall time is the measure; CPU time (user
# and system, both processes) shows the work where other load makes wall
# time swing. FROM and TO narrow the capture to a part of the show.
#   bench/capture_split.sh [BUILD_DIR] [ROUNDS] [SPLIT_SECONDS [FROM TO]]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-3}
split=${3:-12}
range=(--from "${4:-0}" --to "${5:-31}")
tool=$build/pelmira-capture
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

now() { date +%s.%N; }
# cpu: user and system seconds of the children waited for so far into $used
# (times must run in this shell, not in a subshell of its own)
cpu() {
    times >"$out/times"
    used=$(tail -1 "$out/times" | tr 'ms' '  ' | awk '{ print $1 * 60 + $2 + $3 * 60 + $4 }')
}
median() { printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
frames() { grep -hv '^[#a-z]' "$@"; }
ones=() twos=() ratios=()
for ((i = 1; i <= rounds; i++)); do
    start=$(now) && cpu && before=$used
    "$tool" "${range[@]}" --hashes "$out/one" 2>/dev/null
    one=$(awk "BEGIN { print $(now) - $start }") && cpu && oneCpu=$(awk "BEGIN { print $used - $before }")
    start=$(now) && before=$used
    "$tool" --from "${range[1]}" --to "$split" --hashes "$out/a" 2>/dev/null &
    first=$!
    "$tool" --from "$split" --to "${range[3]}" --hashes "$out/b" 2>/dev/null
    wait "$first"
    two=$(awk "BEGIN { print $(now) - $start }") && cpu && twoCpu=$(awk "BEGIN { print $used - $before }")
    [ "$(frames "$out/one")" = "$(frames "$out/a" "$out/b")" ] ||
        { echo "capture_split.sh: the two ways' frames differ" >&2; exit 1; }
    ones+=("$one") twos+=("$two") ratios+=("$(awk "BEGIN { print $two / $one }")")
    printf 'round %d: one process %.1f s (CPU %.1f s), two split at %s s %.1f s (CPU %.1f s): %.3f\n' \
        "$i" "$one" "$oneCpu" "$split" "$two" "$twoCpu" "${ratios[-1]}"
done
printf 'two processes / one, median of %d: %.3f (one %.1f s, two %.1f s)\n' "$rounds" \
    "$(median "${ratios[@]}")" "$(median "${ones[@]}")" "$(median "${twos[@]}")"
