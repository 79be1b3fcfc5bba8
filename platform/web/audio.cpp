// The sound player in the browser: the wave image's samples into a Web Audio
// buffer, played once from the moment they are due, and the start of the
// show's clock held back until the first sample reaches the speaker.
//
// Only 16-bit integer PCM in one or two channels is read, which is what the
// show's image holds; anything else plays nothing and says so. Without an
// AudioContext (the page made none) the show runs silent.
#include "platform/platform.h"
#include "platform/web/internal.h"

#include <cstdint>
#include <cstring>

extern "C" {
double pelmiraStartSound(const int16_t *samples, int frames, int channels, int rate);
double pelmiraPlayBuffer();
void pelmiraStopSound();
void waitUntil(double pageTime);
}

static bool playing;

static uint32_t readLe32(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static unsigned readLe16(const unsigned char *p) {
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

struct Track {
    const int16_t *samples;
    int frames, channels, rate;
};

static bool readWave(const unsigned char *image, Track *track) {
    if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0)
        return false;
    uint64_t riffEnd = 8 + (uint64_t)readLe32(image + 4);
    bool haveFormat = false;
    for (uint64_t offset = 12; offset + 8 <= riffEnd;) {
        const unsigned char *chunk = image + offset;
        uint32_t size = readLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || readLe16(chunk + 8) != 1 || readLe16(chunk + 22) != 16)
                return false;
            track->channels = (int)readLe16(chunk + 10);
            track->rate = (int)readLe32(chunk + 12);
            if (track->channels < 1 || track->channels > 2 || track->rate < 3000 ||
                track->rate > 384000)
                return false;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return false;
            uint64_t available = riffEnd - (offset + 8);
            uint64_t bytes = size < available ? size : available;
            // The image is 2-byte aligned in memory: the samples are read in place.
            track->samples = reinterpret_cast<const int16_t *>(chunk + 8);
            track->frames = (int)(bytes / (2 * (uint64_t)track->channels));
            return true;
        }
        offset += 8 + (uint64_t)size + (size & 1);
    }
    return false;
}

// The tick is read once the first sample is due, as the page's status object
// keeps the first reading after the display opened for the tests' clock.
uint32_t platformPlaySound(const void *waveImage) {
    Track track;
    if (!readWave(static_cast<const unsigned char *>(waveImage), &track)) {
        platformSay("the sound is not 16-bit PCM in one or two channels; the show goes on silent");
        return platformTicks();
    }
    double due = pelmiraStartSound(track.samples, track.frames, track.channels, track.rate);
    if (due < 0)
        return platformTicks();
    playing = true;
    waitUntil(due);
    return platformTicks();
}

uint32_t platformRestartSound() {
    if (!playing)
        return platformTicks();
    double due = pelmiraPlayBuffer();
    if (due >= 0)
        waitUntil(due);
    return platformTicks();
}

void audioClose() {
    pelmiraStopSound();
    playing = false;
}
