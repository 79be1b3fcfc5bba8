// The capture tool's pure parts: the frame clock, its rates and patterns.
#include "show/demo_main.h"
#include "tools/capture_options.h"
#include "tools/capture_run.h"
#include "tools/frame_clock.h"

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
