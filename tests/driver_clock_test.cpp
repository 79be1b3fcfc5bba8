// The demo clock, without a window.
#include "driver/demo_main.h"

#include <gtest/gtest.h>

TEST(DemoClock, TurnsMillisecondsIntoSeconds) {
    EXPECT_EQ(demoTime(0, 5000), 5.0f);
    EXPECT_EQ(demoTime(1000, 6000), 5.0f);
    EXPECT_EQ(demoTime(123456, 123456), 0.0f);
    // The product is formed in double: in float it would round to 14.7f.
    EXPECT_EQ(demoTime(0, 14700), 14.7000008f);
    EXPECT_NE(demoTime(0, 14700), 14.7f);
}

TEST(DemoClock, LastDrawnAndFirstEndingFrame) {
    float last = demoTime(7, 7 + 30999);
    float end = demoTime(7, 7 + 31000);
    EXPECT_LT(last, 31.0f);
    EXPECT_GE(end, 31.0f);
    EXPECT_EQ(end, 31.0000019f);
}

TEST(DemoClock, SurvivesTheCounterWrapping) {
    uint32_t start = 0xFFFFFF00u;
    uint32_t now = 0x00000100u; // 512 ms later, after the wrap
    float t = demoTime(start, now);
    EXPECT_EQ(t, demoTime(0, 512));
    EXPECT_GT(t, 0.5119f);
    EXPECT_LT(t, 0.5121f);
    EXPECT_EQ(demoTime(0xFFFFFFFFu, 4999u), 5.0f);
}
