// drawFrame's own CPU time: the script and meshes run against GL entry
// points that do nothing, so only the vertex arithmetic is timed.
#include "visuals/scenes.h"

#include <benchmark/benchmark.h>

static void drawFrameCpu(benchmark::State &state, float t) {
    for (auto _ : state) {
        drawFrame(t);
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(drawFrameCpu, flyIn, 10.0f)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(drawFrameCpu, flyInWithOrbit, 17.0f)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(drawFrameCpu, tunnel, 25.0f)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
