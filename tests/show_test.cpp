// The demo clock, and the show's display in a real context on SDL's
// offscreen driver: across a --loop restart, and whatever driver is named.
#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"

#include <GL/gl.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

TEST(DemoClock, TurnsTicksIntoSecondsAcrossTheWrap) {
    EXPECT_EQ(demoTime(0, 5000), 5.0f);
    // The product is formed in double: in float it would round to 14.7f.
    EXPECT_EQ(demoTime(0, 14700), 14.7000008f);
    EXPECT_LT(demoTime(7, 7 + 30999), SHOW_LENGTH);   // the last frame drawn
    EXPECT_EQ(demoTime(7, 7 + 31000), 31.0000019f);   // the first that ends
    EXPECT_EQ(demoTime(0xFFFFFF00u, 0x100u), 0.512f); // across the wrap
    EXPECT_EQ(demoTime(0xFFFFFFFFu, 4999u), 5.0f);
    EXPECT_EQ(demoTime(1000, 1000 - 40), 0.0f);    // before a start tick in the future
    EXPECT_EQ(demoTime(0x10u, 0xFFFFFFF0u), 0.0f); // the same, across the wrap
}

// --loop: after restoreStartState every frame of a second pass is the first
// pass's, whatever state the frames before left behind.
TEST(Loop, SecondPassDrawsTheFirstPassFrames) {
    platformRequestHeadless();
    ASSERT_TRUE(buildShow()) << platformError();
    keepStartState();
    static unsigned char pixels[SCREEN_WIDTH * SCREEN_HEIGHT * 4];
    std::vector<uint64_t> passes[2];
    for (auto &hashes : passes) {
        // Every scene, and the frame that ends the show.
        for (uint32_t tick = 0; tick <= 31000; tick += 1000) {
            demoFrame(tick);
            platformReadFrame(pixels);
            uint64_t hash = 0xCBF29CE484222325u;
            for (unsigned char byte : pixels)
                hash = (hash ^ byte) * 0x100000001B3u;
            hashes.push_back(hash);
        }
        // What scenes switch: fog, blending, depth test, colour, texture.
        glEnable(GL_FOG);
        glEnable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glColor4ub(0, 0, 0, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        restoreStartState();
    }
    for (size_t k = 0; k < passes[0].size(); ++k)
        EXPECT_EQ(passes[0][k], passes[1][k]) << "frame at " << k << " s";
}

// Headless (the capture tool) needs no window system, whatever driver the
// user's environment names for the desktop.
TEST(SetupDisplay, HeadlessIgnoresTheDesktopsDriver) {
    setenv("SDL_VIDEODRIVER", "x11", 1);
    unsetenv("DISPLAY");
    platformRequestHeadless();
    ASSERT_TRUE(setupDisplay()) << platformError();
}
