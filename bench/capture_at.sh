#!/usr/bin/env bash
# One frame as a user asks for it, in a fresh process each time: --at 17.3
# (fly-in with orbit, most of the show before it) against --at 0.1 (the
# scroller, next to nothing before it), alternated so that load from
# elsewhere falls on both. Budget: --at 17.3 under 1 s, at most 2x --at 0.1.
# Wall time is the budget's measure; CPU time (user and system, rendering
# threads included) shows the work where other load makes wall time swing.
#   bench/capture_at.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-11}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# timed ARGS...: "wall cpu" seconds of one capture
timed() {
    /usr/bin/time -f '%e %U %S' "$build/pelmira-capture" "$@" 2>&1 >/dev/null | tail -1 |
        awk '{ print $1, $2 + $3 }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
late=() early=() lateCpu=() earlyCpu=()
for ((i = 1; i <= rounds; i++)); do
    read -r wall cpu < <(timed --at 17.3 "$out/orbit.png")
    late+=("$wall") lateCpu+=("$cpu")
    read -r wall cpu < <(timed --at 0.1 "$out/scroller.png")
    early+=("$wall") earlyCpu+=("$cpu")
    printf 'round %d: --at 17.3 %.2f s (CPU %.2f s), --at 0.1 %.2f s (CPU %.2f s)\n' "$i" \
        "${late[-1]}" "${lateCpu[-1]}" "${early[-1]}" "${earlyCpu[-1]}"
done
l=$(median "${late[@]}") e=$(median "${early[@]}")
printf 'medians of %d: --at 17.3 %.2f s (budget 1 s), --at 0.1 %.2f s, ratio %.2f (budget 2); ' \
    "$rounds" "$l" "$e" "$(awk "BEGIN { print $l / $e }")"
printf 'CPU %.2f s and %.2f s\n' "$(median "${lateCpu[@]}")" "$(median "${earlyCpu[@]}")"
