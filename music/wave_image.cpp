#include "music/wave_image.h"

#include <cstring>

// Little-endian bytes of a header field, spelled out at compile time.
static constexpr unsigned char byteOf(uint32_t value, int index) {
    return static_cast<unsigned char>(value >> (8 * index));
}

static constexpr uint32_t BLOCK_ALIGN = 2;
static constexpr uint32_t DATA_SIZE = SAMPLE_COUNT * BLOCK_ALIGN;
static constexpr uint32_t RIFF_SIZE = DATA_SIZE + 36;

#define LE16(v) byteOf(v, 0), byteOf(v, 1)
#define LE32(v) byteOf(v, 0), byteOf(v, 1), byteOf(v, 2), byteOf(v, 3)

// The image itself is zero-initialised, so the program carries no 2.6 MB of
// it on disk: the header is copied in at start-up as the samples are written.
// clang-format off
static constexpr unsigned char WAVE_HEADER[WAVE_HEADER_SIZE] = {
    'R', 'I', 'F', 'F', LE32(RIFF_SIZE),
    'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', LE32(16),
    LE16(1),                         // PCM
    LE16(1),                         // mono
    LE32(SAMPLE_RATE),
    LE32(SAMPLE_RATE * BLOCK_ALIGN), // bytes per second
    LE16(BLOCK_ALIGN),
    LE16(16),                        // bits per sample
    'd', 'a', 't', 'a', LE32(DATA_SIZE),
};
// clang-format on

#undef LE16
#undef LE32

WaveImage waveImage;

void writeWaveHeader() {
    std::memcpy(waveImage.header, WAVE_HEADER, sizeof WAVE_HEADER);
}
