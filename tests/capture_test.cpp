// The capture tool's frame clock and its rates, and the few frames it draws
// before the first it writes.
#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"
#include "tools/capture_run.h"
#include "tools/frame_clock.h"
#include "tools/lead_in.h"

#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

// The hash files pin every frame's time and the frame count at 60 and 2 fps.
TEST(FrameClock, TicksRoundToTheNearestMillisecondWithHalvesUp) {
    FrameRate ntsc = {60000, 1001};
    EXPECT_EQ(frameTick(30, ntsc), 501u); // 500.5 rounds up
    EXPECT_EQ(frameTick(1, ntsc), 17u);   // 16.683
    FrameRate eight = {8, 1};
    EXPECT_EQ(frameTick(1, eight), 125u);
    // No drift over a long run at a fractional rate: 60,000 frames are 1,001 s.
    EXPECT_EQ(frameTick(60000, ntsc), 1001000u);
}

TEST(FrameClock, FramesForTimes) {
    FrameRate sixty = {60, 1};
    EXPECT_EQ(frameAtOrAfter(0.0, sixty), 0);
    EXPECT_EQ(frameAtOrAfter(0.001, sixty), 1);
    EXPECT_EQ(frameAtOrAfter(14.7, sixty), 882);
    EXPECT_EQ(frameAtOrAfter(31.0, sixty), 1860);
    EXPECT_EQ(frameShownAt(0.016, sixty), 0);
    EXPECT_EQ(frameShownAt(0.017, sixty), 1);
    EXPECT_EQ(frameShownAt(17.3, sixty), 1038);
}

TEST(FrameClock, TheShowEndsAtTheFrameThatReads31Seconds) {
    // At 10 fps frame 309 is the last the show draws; 310 reads 31,000 ms and ends it.
    EXPECT_EQ(showFrames({10, 1}), 310);
    EXPECT_EQ(showFrames({60000, 1001}), 1859); // 1858 reads 30,998 ms, 1859 31,014
}

TEST(FrameClock, ParsesRates) {
    const struct {
        const char *text;
        int num, den;
    } good[] = {{"60", 60, 1}, {"60000/1001", 60000, 1001}, {"29.97", 29970, 1000}};
    FrameRate r{};
    for (const auto &g : good) {
        ASSERT_TRUE(parseFrameRate(g.text, &r)) << g.text;
        EXPECT_TRUE(r.num == g.num && r.den == g.den) << g.text << ": " << r.num << "/" << r.den;
    }
    for (const char *bad : {"", "0", "-5", "abc", "60/0", "60/", "/2", "1e9", "60fps", "3/-1"})
        EXPECT_FALSE(parseFrameRate(bad, &r)) << bad;
}

namespace {

// What the scenes switch and leave for the next frame.
struct RenderState {
    GLboolean fog, depthTest, blend;
    GLfloat colour[4];
    GLint texture;
    bool operator==(const RenderState &o) const {
        return fog == o.fog && depthTest == o.depthTest && blend == o.blend &&
               std::equal(colour, colour + 4, o.colour) && texture == o.texture;
    }
};

RenderState renderState() {
    RenderState s{glIsEnabled(GL_FOG), glIsEnabled(GL_DEPTH_TEST), glIsEnabled(GL_BLEND), {}, 0};
    glGetFloatv(GL_CURRENT_COLOR, s.colour);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.texture);
    return s;
}

} // namespace

// A frame's first subframe finds the render state after its lead-in that it
// finds after every frame before it: the first frame of each scene and those
// around it, frames inside each scene and the last, at 60 fps and at a
// fractional rate with subframes, whose clock the lead-in is drawn on. The
// colour differs from the start's only in alpha, which no output shows, so
// the frames' hashes alone would not tell a missing lead-in.
TEST(LeadIn, LeavesTheStateOfEveryFrameBefore) {
    platformRequestHeadless();
    platformSetHeadlessSize(160, 120);
    ASSERT_TRUE(buildShow()) << platformError();
    keepStartState();
    const struct {
        FrameRate rate;
        int subframes;
    } clocks[] = {{{60, 1}, 1}, {{10000, 1001}, 3}};
    for (const auto &c : clocks) {
        const FrameRate clock = {c.rate.num * c.subframes, c.rate.den};
        const long frames = showFrames(c.rate);
        std::vector<long> all(frames * c.subframes);
        std::iota(all.begin(), all.end(), 0L);
        std::vector<RenderState> after; // after[k]: once frames 0 to k are drawn
        restoreStartState();
        drawLeadIn(all, clock, [&](long) { after.push_back(renderState()); });
        std::vector<long> checked = {frames - 1};
        for (double t :
             {0.02, 2.5, 4.9, 5.0, 5.1, 10.0, 14.6, 14.7, 14.8, 17.3, 19.9, 20.0, 20.1, 25.0})
            checked.push_back(frameAtOrAfter(t, c.rate));
        for (long k : checked) {
            const std::vector<long> leadIn = leadInFrames(k, c.rate, c.subframes);
            EXPECT_LE(leadIn.size(), 5u) << k;
            restoreStartState();
            drawLeadIn(leadIn, clock, nullptr);
            EXPECT_TRUE(renderState() == after[k * c.subframes - 1])
                << "frame " << k << " at " << c.rate.num << "/" << c.rate.den << " fps";
        }
    }
}
