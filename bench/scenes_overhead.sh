#!/bin/sh
# The show's frame loop against bare rendering of the same frames, per scene,
# on a private Xvfb screen (default 1920x1080; 800x600 shows the picture 1:1).
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
    --benchmark_report_aggregates_only=true >"$out"
grep _median "$out"
# Median milliseconds per frame, bare and shown, and the show's overhead.
grep _median "$out" | awk '{ split($1, n, "/"); ms[n[1] "/" n[2]] = $2; scenes[n[2]] = 1 }
    END { for (s in scenes)
              printf "%-15s bare %7.2f ms  show %7.2f ms  overhead %+5.1f %%\n", s,
                     ms["bare/" s], ms["show/" s], (ms["show/" s] / ms["bare/" s] - 1) * 100 }'
