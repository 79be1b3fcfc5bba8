// The sound player in the browser: the wave image's samples into a Web Audio
// buffer, played once from the moment they are due, and the start of the
// show's clock held back until the first sample reaches the speaker.
//
// Only 16-bit integer PCM in one or two channels is read, which is what the
// show's image holds; anything else plays nothing and says so. Without an
// AudioContext (the page made none) the show runs silent.
#include "platform/common/wave_header.h"
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

// The tick is read once the first sample is due, as the page's status object
// keeps the first reading after the display opened for the tests' clock.
uint32_t platformPlaySound(const void *waveImage) {
    SoundTrack track;
    if (!readWaveHeader(static_cast<const unsigned char *>(waveImage), &track) ||
        track.bits != 16) {
        platformSay("the sound is not 16-bit PCM in one or two channels; the show goes on silent");
        return platformTicks();
    }
    // The image is 2-byte aligned in memory: the samples are read in place.
    const int16_t *samples = reinterpret_cast<const int16_t *>(track.data);
    int frames = (int)(track.bytes / soundFrameBytes(track));
    double due = pelmiraStartSound(samples, frames, track.channels, track.rate);
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
