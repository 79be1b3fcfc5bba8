#include "platform/platform.h"
#include "visuals/textures.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// A small invisible context: the images' upload needs one, not the picture.
bool openContext() {
    platformRequestHeadless();
    if (platformOpenDisplay(64, 64))
        return true;
    std::fprintf(stderr, "textures_bench: %s\n", platformError());
    return false;
}

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// What start-up pays once, in a process that has not drawn text yet: the font
// look-up, the three images and their upload, finished on the GL side.
int coldStart() {
    if (!openContext())
        return 1;
    Clock::time_point start = Clock::now();
    makeGlowTexture();
    Clock::time_point glow = Clock::now();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    Clock::time_point greeting = Clock::now();
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    Clock::time_point closing = Clock::now();
    uploadTextures();
    glFinish();
    Clock::time_point end = Clock::now();
    std::printf("total %.3f ms (glow %.3f, greeting with font look-up %.3f, closing %.3f, "
                "upload %.3f)\n",
                millisecondsBetween(start, end), millisecondsBetween(start, glow),
                millisecondsBetween(glow, greeting), millisecondsBetween(greeting, closing),
                millisecondsBetween(closing, end));
    return 0;
}

void glowImage(benchmark::State &state) {
    for (auto _ : state) {
        makeGlowTexture();
        benchmark::DoNotOptimize(TexturePixels[SLOT_GLOW][0]);
    }
}
BENCHMARK(glowImage)->Unit(benchmark::kMicrosecond);

void textImage(benchmark::State &state) {
    int height = static_cast<int>(state.range(0));
    const char *text = height == 13 ? GREETING_TEXT : CLOSING_TEXT;
    makeTextTexture(SLOT_GREETING, height, text); // the font look-up, once
    for (auto _ : state) {
        makeTextTexture(SLOT_GREETING, height, text);
        benchmark::DoNotOptimize(TexturePixels[SLOT_GREETING][0]);
    }
}
BENCHMARK(textImage)->Arg(13)->Arg(48)->Unit(benchmark::kMicrosecond);

void uploadAll(benchmark::State &state) {
    if (!openContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    for (auto _ : state) {
        uploadTextures();
        glFinish();
        state.PauseTiming();
        glDeleteTextures(3, textureNames);
        state.ResumeTiming();
    }
}
BENCHMARK(uploadAll)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--cold") == 0)
        return coldStart();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
