// The rules that keep the sound with the picture's clock: an SDL device's
// skips only by the time a device has run dry, never for requests that are
// merely late, however many of them; a server's stream skips only a lag that
// lasts, never for figures that are merely noisy.
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

// A server's figures: each says, at `now`, when the first sample would have
// been heard. The sound starts at 10 s; skips are the seconds asked for.
struct Figures {
    const char *what;
    double late;   // from 12 s on every figure is this much later
    double jitter; // and up to this much later again, in turn
    bool mended;   // a skip takes the lag away
    std::vector<double> skips;
};

static const Figures FIGURES[] = {
    {"a steady server", 0.0, 0.0, true, {}},
    {"a server answering anywhere in its 23 ms cycle", 0.0, 0.023, true, {}},
    {"a lag within the allowance", 0.010, 0.023, true, {}},
    {"two cycles lost, answered anywhere in the cycle", 0.046, 0.023, true, {0.046}},
    // The skip takes time to be heard: the lag seen meanwhile is not skipped
    // again, but it is once the skip should have been heard.
    {"a stall the skip did not mend", 0.2, 0.0, false, {0.2, 0.2}},
};

TEST(SoundLagNote, SkipsOnlyALagThatLasts) {
    for (const Figures &f : FIGURES) {
        SoundLagWatch watch = soundLagStart(10.0);
        std::vector<double> skips;
        double skipped = 0.0;
        for (int i = 0; i < 300; ++i) {
            double now = 10.0 + i * 0.01;
            double late = (now >= 12.0 ? f.late - skipped : 0.0) + f.jitter * (i % 5) / 4.0;
            if (double skip = soundLagNote(watch, now, 10.0 + late)) {
                skips.push_back(skip);
                skipped += f.mended ? skip : 0.0;
            }
        }
        ASSERT_EQ(skips.size(), f.skips.size()) << f.what;
        for (size_t k = 0; k < skips.size(); ++k)
            EXPECT_NEAR(skips[k], f.skips[k], 1e-9) << f.what;
    }
}
