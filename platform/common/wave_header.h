// The format and the samples of a RIFF/WAVE image held in memory, as every
// backend's sound player needs them.
#pragma once

#include <cstdint>

// A soundtrack as a wave image holds it: integer PCM, channels interleaved.
struct SoundTrack {
    const unsigned char *data;
    uint32_t bytes; // whole frames only
    int rate;
    int channels;
    int bits; // 8 or 16
};

inline uint32_t soundFrameBytes(const SoundTrack &track) {
    return (uint32_t)(track.channels * track.bits / 8);
}

// Finds the format and the samples. Accepts only integer PCM of 8 or 16 bits
// in one or two channels: anything else would play as noise.
bool readWaveHeader(const unsigned char *image, SoundTrack *track);
