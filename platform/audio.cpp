// Audio on SDL2: plays a RIFF/WAVE image held in memory once, in the format
// its own header gives, reading the samples straight from the image on SDL's
// audio thread. Integer PCM of 8 or 16 bits in one or two channels only; no
// device means no sound and one line saying so.
#include "platform/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <cstring>

static SDL_AudioDeviceID soundDevice;
static const unsigned char *soundData;
static uint32_t soundLength;
static uint32_t soundPosition; // the audio thread's once playing, but under its lock
static unsigned char soundSilence;

static uint32_t readLe32(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static unsigned readLe16(const unsigned char *p) {
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

// Fills spec's format fields and finds the samples. Accepts only integer PCM
// of 8 or 16 bits in one or two channels: anything else would play as noise.
static bool readWaveHeader(const unsigned char *image, SDL_AudioSpec *spec,
                           const unsigned char **data, uint32_t *length) {
    if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0)
        return false;
    uint64_t riffEnd = 8 + (uint64_t)readLe32(image + 4);
    bool haveFormat = false;
    unsigned blockAlign = 0;
    for (uint64_t offset = 12; offset + 8 <= riffEnd;) {
        const unsigned char *chunk = image + offset;
        uint32_t size = readLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16)
                return false;
            unsigned tag = readLe16(chunk + 8);
            unsigned channels = readLe16(chunk + 10);
            uint32_t rate = readLe32(chunk + 12);
            blockAlign = readLe16(chunk + 20);
            unsigned bits = readLe16(chunk + 22);
            if (tag != 1 || (bits != 8 && bits != 16) || channels < 1 || channels > 2 ||
                rate == 0 || rate > 384000 || blockAlign != channels * bits / 8)
                return false;
            spec->freq = (int)rate;
            spec->format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
            spec->channels = (Uint8)channels;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return false;
            // The RIFF size bounds the image; a data size past it is not played.
            uint64_t available = riffEnd - (offset + 8);
            uint64_t bytes = size < available ? size : available;
            *data = chunk + 8;
            *length = (uint32_t)(bytes - bytes % blockAlign);
            return true;
        }
        offset += 8 + (uint64_t)size + (size & 1);
    }
    return false;
}

static void feedSound(void *, Uint8 *stream, int length) {
    uint32_t left = soundLength - soundPosition;
    uint32_t n = (uint32_t)length < left ? (uint32_t)length : left;
    std::memcpy(stream, soundData + soundPosition, n);
    soundPosition += n;
    std::memset(stream + n, soundSilence, (size_t)length - n);
}

void platformPlaySound(const void *waveImage) {
    // Headless, the picture is made offline and its sound written to a file.
    if (headlessRequested() || soundDevice)
        return;
    SDL_AudioSpec wanted;
    std::memset(&wanted, 0, sizeof wanted);
    if (!readWaveHeader((const unsigned char *)waveImage, &wanted, &soundData, &soundLength)) {
        platformSay("the soundtrack is not a PCM wave image; playing without sound");
        return;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        platformSay("no audio device: %s; playing without sound", SDL_GetError());
        return;
    }
    // About 23 ms at 44.1 kHz: the picture's clock starts when this returns,
    // so a short buffer keeps sound and picture together.
    wanted.samples = 1024;
    wanted.callback = feedSound;
    soundSilence = wanted.format == AUDIO_U8 ? 0x80 : 0;
    soundPosition = 0;
    // No changes allowed: SDL converts if the device differs, so the device
    // always gets the image's own samples in the image's own format.
    soundDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (!soundDevice) {
        platformSay("no audio device: %s; playing without sound", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    SDL_PauseAudioDevice(soundDevice, 0);
}

// Under the device's lock, so the audio thread never reads half a rewind.
// What the device holds already (silence, by the show's end) plays out first:
// a delay of one buffer, as at the first start.
void platformRestartSound() {
    if (!soundDevice)
        return;
    SDL_LockAudioDevice(soundDevice);
    soundPosition = 0;
    SDL_UnlockAudioDevice(soundDevice);
}

void audioClose() {
    if (soundDevice) {
        SDL_CloseAudioDevice(soundDevice);
        soundDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}
