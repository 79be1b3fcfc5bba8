// Frame rates of the four scenes on llvmpipe at the show's 800x600.
#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <cstdio>

// The show's own set-up, rendering into its 800x600 framebuffer invisibly.
static bool setUpShow() {
    platformRequestHeadless();
    if (buildShow())
        return true;
    std::fprintf(stderr, "scenes_bench: %s\n", platformError());
    return false;
}

// One frame as the driver draws it, waited for: llvmpipe would otherwise
// queue frames without bound.
static void frameAt(benchmark::State &state, float t) {
    // The scroller relies on fog being off, as it is before the first fly-in.
    glDisable(GL_FOG);
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(frameAt, scroller, 2.0f)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(frameAt, flyIn, 10.0f)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(frameAt, flyInWithOrbit, 17.0f)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(frameAt, tunnel, 25.0f)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    if (!setUpShow())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platformExit(0);
}
