// The rule that keeps the sound with the picture's clock, as pure arithmetic
// so that it can be tested without a sound device. Times are seconds of one
// monotonic clock; positions are sample frames of the soundtrack.
#pragma once

#include <cstdint>

// How late a request may come before the sound skips: above the jitter of
// the start estimate, below what an ear notices as a lag.
constexpr double SOUND_LAG_ALLOWED = 0.015;

// The frame to play next when the device asks for more at `now`, having
// played up to `position` of `length` frames, with frame 0 heard at
// `audibleAt`. Frame `position` is due at audibleAt + position / rate. A
// device asks ahead of playing, so a request that comes after its first frame
// was due means the device has run dry in the meantime (the feeding thread was
// starved, the process was stopped): it plays what it gets at once, and the
// sound resumes where the clock says it should be instead of carrying the lag
// to the end. A device that asks in time, or early (it buffers ahead, or
// plays faster than real time), gets every frame in order: the sound never
// waits for the clock.
uint32_t soundCatchUp(uint32_t position, uint32_t length, double now, double audibleAt, int rate);
