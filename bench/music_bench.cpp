// The whole soundtrack render as the show runs it at start-up.
#include "music/synth.h"

#include <benchmark/benchmark.h>

static int16_t samples[SAMPLE_COUNT];

static void renderMusicBench(benchmark::State &state) {
    for (auto _ : state) {
        renderMusic(samples);
        benchmark::DoNotOptimize(samples);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SAMPLE_COUNT);
}
BENCHMARK(renderMusicBench)->Name("renderMusic")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
