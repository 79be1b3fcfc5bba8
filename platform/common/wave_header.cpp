// Reading a RIFF/WAVE image's format chunk and data chunk.
#include "platform/common/wave_header.h"

#include <cstring>

static uint32_t readLe32(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static unsigned readLe16(const unsigned char *p) {
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

bool readWaveHeader(const unsigned char *image, SoundTrack *track) {
    if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0)
        return false;
    uint64_t riffEnd = 8 + (uint64_t)readLe32(image + 4);
    bool haveFormat = false;
    for (uint64_t offset = 12; offset + 8 <= riffEnd;) {
        const unsigned char *chunk = image + offset;
        uint32_t size = readLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16)
                return false;
            unsigned tag = readLe16(chunk + 8);
            unsigned channels = readLe16(chunk + 10);
            uint32_t rate = readLe32(chunk + 12);
            unsigned blockAlign = readLe16(chunk + 20);
            unsigned bits = readLe16(chunk + 22);
            if (tag != 1 || (bits != 8 && bits != 16) || channels < 1 || channels > 2 ||
                rate == 0 || rate > 384000 || blockAlign != channels * bits / 8)
                return false;
            track->rate = (int)rate;
            track->channels = (int)channels;
            track->bits = (int)bits;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return false;
            // The RIFF size bounds the image; a data size past it is not played.
            uint64_t available = riffEnd - (offset + 8);
            uint64_t bytes = size < available ? size : available;
            track->data = chunk + 8;
            track->bytes = (uint32_t)(bytes - bytes % soundFrameBytes(*track));
            return true;
        }
        offset += 8 + (uint64_t)size + (size & 1);
    }
    return false;
}
