// Bare rendering of the show's frames at a frame rate, headless: the floor the
// capture tool's own cost is measured against. Prints seconds and frames.
#include "platform/platform.h"
#include "show/demo_main.h"
#include "tools/frame_clock.h"

#include <GL/gl.h>
#include <chrono>
#include <cstdio>

int main(int argc, char **argv) {
    FrameRate rate = {60, 1};
    if (argc > 1 && !parseFrameRate(argv[1], &rate)) {
        std::fprintf(stderr, "usage: capture_bare [FPS]\n");
        return 2;
    }
    platformRequestHeadless();
    if (!buildShow()) {
        std::fprintf(stderr, "capture_bare: %s\n", platformError());
        return 1;
    }
    demoClock.startTick = 0;
    auto began = std::chrono::steady_clock::now();
    long k = 0;
    while (demoFrame(frameTick(k, rate))) {
        glFinish();
        ++k;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("bare rendering: %ld frames in %.2f s (%.1f fps)\n", k, seconds, k / seconds);
    return 0;
}
