// The rule that keeps the sound with the picture's clock: a device that asks
// after its samples were due has run dry, and the sound resumes where the
// clock says; a device that asks in time or early gets every frame in order.
#include "platform/sound_clock.h"

#include <gtest/gtest.h>

struct Request {
    const char *what;
    uint32_t position; // frames played so far
    double now;        // seconds; frame 0 is heard at 10.0
    uint32_t next;     // the frame to play next
};

static const uint32_t LENGTH = 1310560; // the soundtrack's frames
static const Request REQUESTS[] = {
    {"ahead of the clock, as a buffering device asks", 44100, 10.9, 44100},
    {"far ahead, as a device faster than real time asks", 441000, 10.5, 441000},
    {"late by less than the allowance", 44100, 11.0 + SOUND_LAG_ALLOWED * 0.9, 44100},
    {"after a two-second stop", 44100, 13.0, 132300},
    {"starved for a tenth of a second", 88200, 12.1, 92610},
    {"past the soundtrack's end", 1300000, 50.0, LENGTH},
    {"at the end, long after", LENGTH, 50.0, LENGTH},
};

TEST(SoundCatchUp, FollowsTheClockOnlyWhenTheDeviceRanDry) {
    for (const Request &r : REQUESTS)
        EXPECT_EQ(soundCatchUp(r.position, LENGTH, r.now, 10.0, 44100), r.next) << r.what;
}
