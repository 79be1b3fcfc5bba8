// What the show's own frame loop costs on top of rendering: each scene drawn
// bare into the show's framebuffer and waited for, against the same frame
// presented as the show presents it (blit or shared-memory copy to the window,
// swap, event pump). The two are timed in alternation, frame by frame, and
// compared by their medians, so that load from other work on the machine
// falls on both alike. Needs a display: bench/scenes_overhead.sh runs it on
// its own Xvfb.
#include "platform/platform.h"
#include "show/display.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/gl.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <vector>

static double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

static double median(std::vector<double> &v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

static void overhead(benchmark::State &state, float t) {
    glDisable(GL_FOG); // as before the first fly-in, for the scroller
    std::vector<double> bare, shown;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        glFinish();
        bare.push_back(millisecondsSince(start));

        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(platformTicks());
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        platformSwapBuffers();
        benchmark::DoNotOptimize(platformEscapePressed());
        // Whatever the swap left queued belongs to this frame.
        glFinish();
        double ms = millisecondsSince(start);
        shown.push_back(ms);
        state.SetIterationTime(ms * 1e-3);
    }
    double b = median(bare), s = median(shown);
    state.counters["bare_ms"] = b;
    state.counters["show_ms"] = s;
    state.counters["overhead_pct"] = (s / b - 1.0) * 100.0;
}

#define SCENE(name, t)                                                                             \
    BENCHMARK_CAPTURE(overhead, name, t)                                                           \
        ->UseManualTime()                                                                          \
        ->MinTime(1.0)                                                                             \
        ->Unit(benchmark::kMillisecond)

SCENE(scroller, 2.0f);
SCENE(flyIn, 10.0f);
SCENE(flyInWithOrbit, 17.0f);
SCENE(tunnel, 25.0f);

int main(int argc, char **argv) {
    if (!setupDisplay()) {
        std::fprintf(stderr, "scenes_show_bench: %s\n", platformError());
        return 1;
    }
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    uploadTextures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platformExit(0);
}
