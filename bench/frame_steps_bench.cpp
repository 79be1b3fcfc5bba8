// The capture's per-frame work on the CPU besides rendering, at 1600x1200:
// the conversions the encoders are fed, padding, and the subframe mean.
#include "tools/encoder.h"
#include "tools/frame_average.h"
#include "tools/frame_format.h"
#include "tools/yuv.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

FrameFormat format(bool padded) {
    FrameFormat f;
    f.width = 1600;
    f.height = 1200;
    f.canvasWidth = padded ? 2134 : 1600;
    f.canvasHeight = 1200;
    return f;
}

std::vector<unsigned char> picture(const FrameFormat &f) {
    std::vector<unsigned char> rgba(f.pictureBytes());
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = (unsigned char)(i * 7 + i / 4096);
    return rgba;
}

using Convert = void (*)(const unsigned char *, const FrameFormat &, unsigned char *);

void convert(benchmark::State &state, Convert to, FramePipe pipe) {
    const FrameFormat f = format(state.range(0) != 0);
    const std::vector<unsigned char> rgba = picture(f);
    std::vector<unsigned char> out(pipeFrameBytes(pipe, f.canvasWidth, f.canvasHeight));
    for (auto _ : state) {
        to(rgba.data(), f, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
// Argument 1: onto a 16:9 canvas.
BENCHMARK_CAPTURE(convert, yuv420, toYuv420, PIPE_YUV420)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convert, yuv444, toYuv444, PIPE_YUV444)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convert, bgr0, toBgr0, PIPE_BGR0)->Arg(0)->Unit(benchmark::kMillisecond);

void padRgba(benchmark::State &state) {
    const FrameFormat f = format(true);
    const std::vector<unsigned char> rgba = picture(f);
    std::vector<unsigned char> canvas(f.canvasBytes());
    for (auto _ : state) {
        placeOnCanvas(f, rgba.data(), canvas.data());
        benchmark::DoNotOptimize(canvas.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(padRgba)->Unit(benchmark::kMillisecond);

// One subframe added, and the mean of a frame taken, per iteration pair.
void subframeMean(benchmark::State &state) {
    const FrameFormat f = format(false);
    const std::vector<unsigned char> rgba = picture(f);
    std::vector<unsigned char> out(f.pictureBytes());
    FrameAverage average(f.pictureBytes(), 4);
    for (auto _ : state) {
        for (int j = 0; j < 4; ++j)
            average.add(rgba.data());
        average.mean(out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(subframeMean)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
