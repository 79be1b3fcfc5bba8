// What the show's own frame loop costs on top of rendering: each scene drawn
// bare into the show's framebuffer and waited for, against the same frames
// presented as the show presents them (blit to the window, swap, event pump).
// Needs a display: bench/scenes_overhead.sh runs it on its own Xvfb.
#include "driver/display.h"
#include "driver/platform.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

static void bare(benchmark::State &state, float t) {
    glDisable(GL_FOG); // as before the first fly-in, for the scroller
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

static void show(benchmark::State &state, float t) {
    glDisable(GL_FOG);
    for (auto _ : state) {
        benchmark::DoNotOptimize(platformTicks());
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        platformSwapBuffers();
        benchmark::DoNotOptimize(platformEscapePressed());
    }
    // Whatever the last swap left queued belongs to the timed frames.
    glFinish();
    state.counters["fps"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

#define SCENE(name, t)                                                                             \
    BENCHMARK_CAPTURE(bare, name, t)->UseRealTime()->Unit(benchmark::kMillisecond);                \
    BENCHMARK_CAPTURE(show, name, t)->UseRealTime()->Unit(benchmark::kMillisecond)

SCENE(scroller, 2.0f);
SCENE(flyIn, 10.0f);
SCENE(flyInWithOrbit, 17.0f);
SCENE(tunnel, 25.0f);

int main(int argc, char **argv) {
    setupDisplay();
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    uploadTextures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platformExit(0);
}
