// The rule that keeps the sound with the picture's clock, as pure arithmetic
// so that it can be tested without a sound device. Times are seconds of one
// monotonic clock; positions are sample frames of the soundtrack.
//
// A device asks for samples ahead of playing them: the lead of a request, how
// long before its first frame is due (frame p is due at audibleAt + p / rate)
// it comes, is about what the device holds queued when it asks, its usual
// lead. A device that ran dry (the feeding thread was starved, the process was
// stopped) played silence meanwhile and plays everything after it that much
// late: its requests come with less lead from then on, or, after a long stop,
// only after their frames were due. Either way the sound skips ahead by the
// lag instead of carrying it to the end. A request that is merely late, the
// queue not run dry, is followed by requests with the usual lead again, so a
// lag counts only when several requests in a row show it.
#pragma once

#include <cstdint>

// How far the sound may lag before it skips: above the jitter of a device's
// requests, below what an ear notices as a lag.
constexpr double SOUND_LAG_ALLOWED = 0.015;

// Requests in a row that must all show a lag before it counts.
constexpr int SOUND_LAGGING_REQUESTS = 3;

struct SoundClock {
    double audibleAt; // when frame 0 is heard
    int rate;         // frames per second
    double usualLead; // seconds
    double recentLead[SOUND_LAGGING_REQUESTS];
    int recent; // requests since the last skip
};

SoundClock soundClockStart(double audibleAt, int rate, double usualLead);

// The frame to play next when the device asks at `now`, having played up to
// `position` of `length` frames: `position`, or further on if the device has
// fallen behind the clock by more than SOUND_LAG_ALLOWED, never past `length`.
// A device that asks early (it buffers more, or plays faster than real time)
// gets every frame in order: the sound never waits for the clock.
uint32_t soundCatchUp(SoundClock &clock, uint32_t position, uint32_t length, double now);
