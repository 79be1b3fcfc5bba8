#pragma once

#include <cstdint>

struct DemoClock {
    uint32_t startTick; // tick counter right after playback started
    float t;            // demo time of the current frame, seconds
};

extern DemoClock demoClock;

// Demo time for a tick reading: the wrapping millisecond difference times the
// float 0.001, formed in double and rounded to float.
float demoTime(uint32_t startTick, uint32_t now);

// Start-up up to, not including, playback: display, textures, music. Shared
// with the capture tool, which renders the same show offline.
void buildShow();

// One pass of the frame loop up to presentation for a tick reading: demo time
// into demoClock.t, clear, identity and, unless t has reached 31 s, drawFrame.
// Returns 0 when the show has ended at this reading.
int demoFrame(uint32_t now);

// The whole life of the show; ends the process.
[[noreturn]] void demoMain();
