// The soundtrack as a RIFF/WAVE image in memory: a constant 44-byte header,
// which writeWaveHeader puts in place, followed by the samples renderMusic
// writes.
#pragma once

#include "music/synth.h"

#include <cstdint>

constexpr int WAVE_HEADER_SIZE = 44;
constexpr uint32_t SAMPLE_RATE = 44100; // samples per second

struct WaveImage {
    unsigned char header[WAVE_HEADER_SIZE];
    int16_t samples[SAMPLE_COUNT];
};
static_assert(sizeof(WaveImage) == WAVE_HEADER_SIZE + 2 * SAMPLE_COUNT, "no padding");

extern WaveImage waveImage;

// Puts the header in place; the image is zero until then.
void writeWaveHeader();
