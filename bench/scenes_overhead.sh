#!/bin/sh
# The show's frame loop against bare rendering of the same frames, per scene,
# on a private Xvfb screen (default 1920x1080; 800x600 shows the picture 1:1).
# Bare and shown frames alternate, so load from other work falls on both;
# each figure is the median over repetitions of per-frame medians.
# Usage: bench/scenes_overhead.sh BUILD_DIR [SCREEN] [REPETITIONS]
set -eu
bench="$1/bench/scenes_show_bench"
screen="${2:-1920x1080}"
reps="${3:-5}"
out=$(mktemp)
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$fifo" 2>/dev/null &
server=$!
read -r display <"$fifo"
rm -f "$fifo"
trap 'kill $server 2>/dev/null; rm -f "$out"' EXIT
DISPLAY=":$display" SDL_AUDIODRIVER=dummy "$bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv >"$out" 2>/dev/null
echo "screen $screen, load average $(cut -d' ' -f1-3 /proc/loadavg)"
# CSV columns: name,...,bare_ms,overhead_pct,show_ms (counters sorted by name).
awk -F, '/_median"/ { split($1, n, "/"); printf "%-15s bare %7.2f ms  show %7.2f ms  overhead %+5.1f %%\n", n[2], $(NF-2), $NF, $(NF-1) }' "$out"
