#!/bin/sh
# Runs the texture start-up once in each of several fresh processes and prints
# every run and the median, fastest and slowest totals.
# Usage: bench/textures_cold.sh BUILD_DIR [RUNS]
set -eu
bench="$1/bench/textures_bench"
runs="${2:-11}"
results=""
i=0
while [ "$i" -lt "$runs" ]; do
    line=$("$bench" --cold)
    echo "$line"
    results="$results${results:+
}$line"
    i=$((i + 1))
done
echo "$results" | awk '{ print $2 }' | sort -n | awk '{ t[NR] = $1 }
    END { printf "median of %d fresh runs: %.3f ms (fastest %.3f, slowest %.3f)\n",
                 NR, t[int((NR + 1) / 2)], t[1], t[NR] }'
