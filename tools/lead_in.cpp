#include "tools/lead_in.h"

#include "platform/platform.h"
#include "show/demo_main.h"

#include <GL/gl.h>

namespace {

// Where the script changes what it draws, as it compares the demo time: the
// fly-in from 5 s, the orbit over it from the float nearest 14.7 s, the
// tunnel from 20 s. A frame changes fog, depth test, blending, colour and
// texture only by which of these scenes it draws, and drawing the same
// scenes twice leaves what drawing them once does; so the frames between two
// changes add nothing to the state that the first of them has set.
const float SCENE_STARTS[] = {5.0f, 14.7f, 20.0f};

float frameTime(long frame, FrameRate rate) {
    return demoTime(0, frameTick(frame, rate));
}

// The first frame whose demo time, the float the script compares, is t or later.
long firstFrameFrom(float t, FrameRate rate) {
    long k = frameAtOrAfter(t, rate);
    while (k > 0 && frameTime(k - 1, rate) >= t)
        --k;
    while (frameTime(k, rate) < t)
        ++k;
    return k;
}

} // namespace

std::vector<long> leadInFrames(long first, FrameRate rate, int subframes) {
    const FrameRate clock = {rate.num * subframes, rate.den};
    const long before = first * subframes - 1;
    std::vector<long> frames;
    if (before < 0)
        return frames;
    frames.push_back(0);
    for (float start : SCENE_STARTS) {
        long k = firstFrameFrom(start, clock);
        if (k < before && k != frames.back())
            frames.push_back(k);
    }
    if (frames.back() != before)
        frames.push_back(before);
    return frames;
}

void drawLeadIn(const std::vector<long> &frames, FrameRate clock,
                const std::function<void(long)> &afterEach) {
    // An empty scissor box, which the show never uses, keeps llvmpipe from
    // filling a pixel while every call of the frames is still made.
    GLint box[4];
    glGetIntegerv(GL_SCISSOR_BOX, box);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 0, 0);
    for (size_t i = 0; i < frames.size() && !platformEndSignal(); ++i) {
        demoFrame(frameTick(frames[i], clock));
        glFinish();
        if (afterEach)
            afterEach((long)i + 1);
    }
    glScissor(box[0], box[1], box[2], box[3]);
    glDisable(GL_SCISSOR_TEST);
}
