// The soundtrack: one bass voice from a 32-step note pattern, two detuned
// sawtooth oscillators under a decaying envelope, two echo taps, 16-bit output.
#pragma once

#include <cstdint>

constexpr int SAMPLE_COUNT = 1310560; // 5 runs of the pattern less 160 samples
constexpr int STEP_LENGTH = 8192;     // samples per pattern step

extern const unsigned char NOTE_PATTERN[32];
extern const float NOTE_STEP[24]; // phase increment per sample, one per semitone

extern float MixBuffer[SAMPLE_COUNT];

// round(x) - x, rounding to nearest with ties to even.
double sawValue(double x);

// One echo pass over MixBuffer; walks backwards so it never recirculates.
void addEcho(int delay);

// Renders the whole soundtrack into MixBuffer and then, as SAMPLE_COUNT signed
// 16-bit samples, into sampleArea.
void renderMusic(int16_t *sampleArea);
