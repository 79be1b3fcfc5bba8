// The top of the show: its start-up, its clock and its frame loop.
#pragma once

#include <cstdint>

// The program's name, as it names itself in messages and its window.
constexpr char SHOW_PROGRAM[] = "pelmira";

// Demo seconds at which the show ends: the frame that reaches it is cleared
// but never drawn or shown.
constexpr float SHOW_LENGTH = 31.0f;

struct DemoClock {
    uint32_t startTick; // tick counter when the soundtrack's first sample is heard
    float t;            // demo time of the current frame, seconds
};

extern DemoClock demoClock;

// Demo time for a tick reading: the wrapping millisecond difference times the
// float 0.001, formed in double and rounded to float.
float demoTime(uint32_t startTick, uint32_t now);

// Start-up up to, not including, playback: display, textures, music. Shared
// with the capture tool, which renders the same show offline. False if the
// display could not be opened (platformError says why); nothing else fails.
bool buildShow();

// One pass of the frame loop up to presentation for a tick reading: demo time
// into demoClock.t, clear, identity and, unless t has reached the show's end,
// drawFrame. Returns 0 when the show has ended at this reading.
int demoFrame(uint32_t now);

struct ShowOptions;

// The whole life of the show, played as options ask; ends the process.
[[noreturn]] void demoMain(const ShowOptions &options);
