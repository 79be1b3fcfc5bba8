// The rule that keeps the sound with the picture's clock: the sound skips
// ahead only when the device has fallen behind, by a request that comes after
// its frames were due or by requests in a row with less lead than usual.
#include "platform/sound_clock.h"

#include <gtest/gtest.h>

static const uint32_t LENGTH = 1310560; // the soundtrack's frames
static const int RATE = 44100;
static const double USUAL = 0.1; // the device usually asks 0.1 s ahead

// Frame 0 heard at 10.0; requests at the given times, each playing 4,410
// frames (0.1 s) more than the last unless the rule skipped.
static uint32_t playTo(std::initializer_list<double> requests) {
    SoundClock clock = soundClockStart(10.0, RATE, USUAL);
    uint32_t position = 0;
    for (double now : requests)
        position = soundCatchUp(clock, position, LENGTH, now) + 4410;
    return position;
}

TEST(SoundCatchUp, KeepsEveryFrameWhileTheDeviceAsksInTime) {
    EXPECT_EQ(playTo({9.9, 10.0, 10.1, 10.2, 10.3}), 5 * 4410u);
    // One request late but the queue not dry: the next ones catch up.
    EXPECT_EQ(playTo({9.9, 10.0, 10.19, 10.2, 10.3, 10.4}), 6 * 4410u);
    // Faster than real time, as SDL's disk driver at its shortest delay.
    EXPECT_EQ(playTo({9.9, 9.91, 9.92, 9.93, 9.94}), 5 * 4410u);
}

TEST(SoundCatchUp, SkipsByTheLagOnceRequestsInARowShowIt) {
    // Dry for 50 ms from the third request on: every later request 50 ms late.
    uint32_t played = playTo({9.9, 10.0, 10.15, 10.25, 10.35, 10.45});
    EXPECT_NEAR(played, 6 * 4410 + 0.05 * RATE, 1);
}

TEST(SoundCatchUp, SkipsAtOnceAfterAStop) {
    // Stopped for two seconds after the second request: the third asks at
    // 12.1 for frames due at 10.2, which are heard at once.
    uint32_t played = playTo({9.9, 10.0, 12.1});
    EXPECT_NEAR(played, 3 * 4410 + 1.9 * RATE, 1);
}

TEST(SoundCatchUp, NeverPlaysPastTheEnd) {
    SoundClock clock = soundClockStart(10.0, RATE, USUAL);
    EXPECT_EQ(soundCatchUp(clock, LENGTH - 10, LENGTH, 60.0), LENGTH);
    EXPECT_EQ(soundCatchUp(clock, LENGTH, LENGTH, 61.0), LENGTH);
}
