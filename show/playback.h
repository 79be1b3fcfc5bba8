#pragma once

#include <cstdint>

// Hands the finished wave image to the sound player, which plays it in the
// background; returns the tick at which its first sample is heard, the
// show's start tick (now, when there is no sound).
uint32_t startPlayback();

// Plays the soundtrack again from its beginning; returns the new start tick.
uint32_t restartPlayback();
