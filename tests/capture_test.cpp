// The capture tool's pure parts: the frame clock, its rates and patterns, and
// the conversion the encoder is fed.
#include "show/demo_main.h"
#include "tools/capture_options.h"
#include "tools/capture_run.h"
#include "tools/frame_clock.h"
#include "tools/yuv.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(FrameClock, TicksRoundToTheNearestMillisecondWithHalvesUp) {
    FrameRate sixty = {60, 1};
    EXPECT_EQ(frameTick(0, sixty), 0u);
    EXPECT_EQ(frameTick(1, sixty), 17u); // 16.67
    EXPECT_EQ(frameTick(2, sixty), 33u); // 33.33
    EXPECT_EQ(frameTick(3, sixty), 50u);
    EXPECT_EQ(frameTick(1859, sixty), 30983u);
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

TEST(FrameClock, TheShowLastsEighteenHundredSixtyFramesAtSixty) {
    // Frame 1859 is the last the show draws; 1860 reads 31,000 ms and ends it.
    EXPECT_EQ(showFrames({60, 1}), 1860);
    EXPECT_EQ(showFrames({10, 1}), 310);
    EXPECT_EQ(showFrames({60000, 1001}), 1859); // 1858 reads 30,998 ms, 1859 31,014
}

TEST(FrameClock, ParsesRates) {
    FrameRate r{};
    ASSERT_TRUE(parseFrameRate("60", &r));
    EXPECT_EQ(r.num, 60);
    EXPECT_EQ(r.den, 1);
    ASSERT_TRUE(parseFrameRate("60000/1001", &r));
    EXPECT_EQ(r.num, 60000);
    EXPECT_EQ(r.den, 1001);
    ASSERT_TRUE(parseFrameRate("29.97", &r));
    EXPECT_EQ(r.num, 29970);
    EXPECT_EQ(r.den, 1000);
    for (const char *bad : {"", "0", "-5", "abc", "60/0", "60/", "/2", "1e9", "60fps", "3/-1"})
        EXPECT_FALSE(parseFrameRate(bad, &r)) << bad;
}

TEST(FramePattern, OnlyOneIntegerConversionIsAccepted) {
    EXPECT_TRUE(isFramePattern("frames/%05d.png"));
    EXPECT_TRUE(isFramePattern("%d.png"));
    EXPECT_TRUE(isFramePattern("100%%-%i.png"));
    // Anything else would hand user text to printf as a format.
    EXPECT_FALSE(isFramePattern("frames.png"));
    EXPECT_FALSE(isFramePattern("%d-%d.png"));
    EXPECT_FALSE(isFramePattern("%s.png"));
    EXPECT_FALSE(isFramePattern("%n%d.png"));
    EXPECT_FALSE(isFramePattern("%ld.png"));
    EXPECT_FALSE(isFramePattern("%d%"));
}

// Coloured blocks against BT.601's studio-range matrix in exact arithmetic:
// every frame of the show is grey, where swapped or misplaced chroma planes
// would not show.
TEST(Yuv, ColouredBlocksMatchTheStudioRangeMatrix) {
    const int w = 8, h = 2;
    const unsigned char colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {20, 40, 230}, {255, 255, 255}};
    unsigned char rgba[w * h * 4], yuv[w * h * 3 / 2];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                rgba[(y * w + x) * 4 + c] = c < 3 ? colours[x / 2][c] : 7;
    toYuv420(rgba, w, h, yuv);
    for (int b = 0; b < 4; ++b) {
        const double r = colours[b][0], g = colours[b][1], bl = colours[b][2];
        const double luma = 16 + (65.481 * r + 128.553 * g + 24.966 * bl) / 255;
        const double cb = 128 + (-37.797 * r - 74.203 * g + 112.0 * bl) / 255;
        const double cr = 128 + (112.0 * r - 93.786 * g - 18.214 * bl) / 255;
        for (int i : {2 * b, 2 * b + 1, w + 2 * b, w + 2 * b + 1})
            EXPECT_NEAR(yuv[i], luma, 1.0) << "block " << b;
        EXPECT_NEAR(yuv[w * h + b], cb, 1.0) << "block " << b;
        EXPECT_NEAR(yuv[w * h + w * h / 4 + b], cr, 1.0) << "block " << b;
    }
}
