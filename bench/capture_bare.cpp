// Bare rendering of the show's frames at a frame rate, headless: the floor the
// capture tool's own cost is measured against. Prints seconds and frames.
//   capture_bare [FPS [WxH [SUBFRAMES]]]
// draws every frame, and each of its subframes, at that size, as the capture
// would, but reads nothing back.
#include "platform/platform.h"
#include "show/demo_main.h"
#include "tools/frame_clock.h"
#include "tools/frame_format.h"

#include <GL/gl.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    FrameRate rate = {60, 1};
    FrameFormat format;
    if ((argc > 1 && !parseFrameRate(argv[1], &rate)) ||
        (argc > 2 && !parseSize(argv[2], &format.width, &format.height)) ||
        (argc > 3 && (format.subframes = std::atoi(argv[3])) < 1)) {
        std::fprintf(stderr, "usage: capture_bare [FPS [WxH [SUBFRAMES]]]\n");
        return 2;
    }
    platformRequestHeadless();
    platformSetHeadlessSize(format.width, format.height);
    if (!buildShow()) {
        std::fprintf(stderr, "capture_bare: %s\n", platformError());
        return 1;
    }
    const int n = format.subframes;
    const FrameRate drawn = {rate.num * n, rate.den};
    demoClock.startTick = 0;
    auto began = std::chrono::steady_clock::now();
    long k = 0;
    // A frame is drawn while its first subframe is before the show's end.
    while (demoFrame(frameTick(k * n, drawn))) {
        glFinish();
        for (int j = 1; j < n; ++j) {
            demoFrame(frameTick(k * n + j, drawn));
            glFinish();
        }
        ++k;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("bare rendering: %ld frames in %.2f s (%.1f fps)\n", k, seconds, k / seconds);
    return 0;
}
