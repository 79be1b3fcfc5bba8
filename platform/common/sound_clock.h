// The rules that keep the sound with the picture's clock, of a device SDL
// feeds and (further down) of a sound server's stream, as pure arithmetic so
// that they can be tested without a sound device.
// Times are seconds of one monotonic clock; positions and sizes are sample
// frames of the soundtrack.
//
// SDL tells nothing of what a device still holds, only when it asks for
// more. A device asks once it has room, still holding about what it usually
// does (a card or server: the buffer before; SDL's disk and dummy drivers,
// which write and then sleep a buffer's length: nothing). It ran dry only if
// a request comes later than everything it held could have lasted: the time
// since the last request beyond the frames then handed over and what it held
// besides. That much was played as silence and everything after it would be
// late by as much, so the sound skips ahead by it. A request that is merely
// late, with sound still in the device, loses nothing and skips nothing;
// nor do late wake-ups of a thread that paces itself by sleeping, however
// many add up, since each buffer still follows the one before it.
#pragma once

#include <cstdint>

// How much longer than what the device held a request may take before it
// counts as sound lost: above the wake-up jitter of a thread on a busy
// machine (a scheduler tick or few), below what an ear notices as a lag.
constexpr double SOUND_LAG_ALLOWED = 0.015;

struct SoundClock {
    int rate;           // frames per second
    double held;        // seconds the device holds besides the last request's frames
    double lastRequest; // when the device last asked; 0 before it first has
    uint32_t lastAsked; // frames it asked for then
};

SoundClock soundClockStart(int rate, double held);

// The frame to play next when the device asks at `now` for `asked` frames,
// having played up to `position` of `length` frames: `position`, or further
// on by the time the device has run dry since its last request when that is
// more than SOUND_LAG_ALLOWED, never past `length`.
uint32_t soundCatchUp(SoundClock &clock, uint32_t position, uint32_t asked, uint32_t length,
                      double now);

// A sound server says, in its timing figures, how far it has read a stream and
// when that will be heard, and so when the stream's first sample would have
// been heard had it played without a break since. While nothing stalls that
// moment stays where it was when the sound started; a server that stalls
// (a graph cycle missed, the server stopped) plays on from where it was, and
// the moment moves later by the time lost. Single figures are noisy (a
// server that answers at any point of its cycle looks late by up to a cycle),
// so only the earliest over a window counts, and only a lag above
// SOUND_LAG_ALLOWED is skipped; after a skip, the figures are not heeded
// until the skipped sound has had time to reach the speaker.
constexpr double SOUND_LAG_WINDOW = 0.1;
constexpr double SOUND_LAG_SETTLE = 0.4;

struct SoundLagWatch {
    double start;       // when the first sample was heard
    double windowStart; // when the current window began; 0 before the first figure
    double earliest;    // the earliest moment in it
    double quietUntil;  // figures before this are not heeded
};

SoundLagWatch soundLagStart(double start);

// Given the moment the figures taken at `now` put the first sample at, the
// seconds of sound to skip now (0 mostly).
double soundLagNote(SoundLagWatch &watch, double now, double firstHeard);
