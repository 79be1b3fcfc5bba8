// Frame rates of the four scenes on llvmpipe at the show's 800x600.
#include "tests/gl_context.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/glu.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

static void setUpShow() {
    if (!openTestContext(800, 600))
        std::exit(1);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90.0, 4.0f / 3.0f, 0.1f, 1500.0);
    glMatrixMode(GL_MODELVIEW);
    glFogi(GL_FOG_START, 40);
    const GLint black[4] = {0, 0, 0, 0};
    glFogiv(GL_FOG_COLOR, black);
    glFogi(GL_FOG_DENSITY, 1);
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    uploadTextures();
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
    setUpShow();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    closeTestContext();
    return 0;
}
