// The rule that keeps the sound of an SDL device with the picture's clock: it
// skips only by the time a device has run dry, never for requests that are
// merely late, however many of them.
#include "platform/common/sound_clock.h"

#include <gtest/gtest.h>
#include <vector>

static const uint32_t LENGTH = 1310560; // the soundtrack's frames
static const int RATE = 44100;
static const uint32_t ASKED = 4410; // 0.1 s a request

struct Case {
    const char *what;
    double held;                  // what the device holds besides a request, s
    std::vector<double> requests; // when it asks
    double skipped;               // seconds the sound should skip in all
};

static const Case CASES[] = {
    {"a card asking in time", 0.1, {10.0, 10.1, 10.2, 10.3, 10.4}, 0.0},
    {"a card asking late, still holding sound", 0.1, {10.0, 10.19, 10.2, 10.39, 10.4}, 0.0},
    {"a paced driver faster than real time", 0.0, {10.0, 10.01, 10.02, 10.03, 10.04}, 0.0},
    // SDL's disk driver sleeps after each write: every late wake-up delays
    // all later requests, 4 ms a time here, 40 ms in all, and loses nothing.
    {"a paced driver waking late",
     0.0,
     {10.0, 10.104, 10.208, 10.312, 10.416, 10.52, 10.624, 10.728, 10.832, 10.936, 11.04},
     0.0},
    {"a card run dry for 50 ms", 0.1, {10.0, 10.1, 10.35, 10.45}, 0.05},
    {"a paced driver stopped for two seconds", 0.0, {10.0, 10.1, 12.2, 12.3}, 2.0},
    {"two dry spells", 0.1, {10.0, 10.25, 10.35, 10.65}, 0.05 + 0.1},
};

TEST(SoundCatchUp, SkipsOnlyTheTimeADeviceRanDry) {
    for (const Case &c : CASES) {
        SoundClock clock = soundClockStart(RATE, c.held);
        uint32_t position = 0;
        for (double now : c.requests)
            position = soundCatchUp(clock, position, ASKED, LENGTH, now) + ASKED;
        double skipped = (double)(position - ASKED * c.requests.size()) / RATE;
        EXPECT_NEAR(skipped, c.skipped, 1.0 / RATE) << c.what;
    }
}

TEST(SoundCatchUp, NeverPlaysPastTheEnd) {
    SoundClock clock = soundClockStart(RATE, 0.0);
    EXPECT_EQ(soundCatchUp(clock, LENGTH - 10, ASKED, LENGTH, 10.0), LENGTH - 10);
    EXPECT_EQ(soundCatchUp(clock, LENGTH - 10, ASKED, LENGTH, 60.0), LENGTH);
}
