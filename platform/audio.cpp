// Audio on SDL2: plays a RIFF/WAVE image held in memory once, in the format
// its own header gives, reading the samples straight from the image on SDL's
// audio thread. Integer PCM of 8 or 16 bits in one or two channels only; no
// device means no sound and one line saying so.
//
// The sound keeps to the picture's clock: platformPlaySound returns when the
// first sample is due at the speaker, so the clock the show starts then begins
// with the sound, and a device that ran dry (the feeding thread was starved,
// the process was stopped) resumes where that clock says the sound should be
// instead of carrying the lag to the end. A device that never runs dry gets
// every byte of the soundtrack in order.
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/sound_clock.h"

#include <SDL.h>
#include <atomic>
#include <cstring>

// The device buffer, chosen by measurement on PulseAudio under load
// (bench/av_sync.py, README: performance): with 16,384 frames (372 ms at
// 44.1 kHz) three runs in ten had a gap, one each; with 8,192 eight in ten,
// with 4,096 nine. The start waits for the sound to be heard, so the length
// costs no lag between sound and picture, only time: a third of a second more
// before the first frame, half a second more to close the device at the end.
// A sound server is where feeding is least direct and gaps come easiest;
// SDL's other drivers (ALSA straight to the card, disk, dummy) get a quarter.
static const Uint16 SERVER_BUFFER_FRAMES = 16384;
static const Uint16 DIRECT_BUFFER_FRAMES = 4096;

// How long after the request that carries it a sound server plays a sample,
// in buffers: measured on PulseAudio, which splits a stream's buffer between
// the client side and the sink and asks for more once the client side has
// room (0.43 to 0.59 of a buffer for 4,096 to 16,384 frames). Straight to the
// card, and for the disk and dummy drivers, it is taken as nothing.
static const double SERVER_HEARD_AFTER = 0.5;

static SDL_AudioDeviceID soundDevice;
static const unsigned char *soundData;
static uint32_t soundLength;
static uint32_t soundPosition; // the audio thread's once playing, but under its lock
static unsigned char soundSilence;
static uint32_t soundFrameBytes;
static int soundRate;

// Seconds of SDL's performance counter (monotonic, as the tick counter is):
// when the device asked for the soundtrack's first samples, and when the first
// one is heard. Zero until known; set once, then only read.
static std::atomic<double> startRequestedAt{0.0};
static std::atomic<double> audibleAt{0.0};
static int requestsSeen;      // the audio thread's
static SoundClock soundClock; // the audio thread's, once audibleAt is known
static int requestsSilenced;  // the first requests after unpausing, 0 or 1
static double heardAfter;     // seconds from a request to its first sample heard
static bool soundLost;

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

static double clockSeconds() {
    return (double)SDL_GetPerformanceCounter() / (double)SDL_GetPerformanceFrequency();
}

// On a sound server the first request after unpausing comes at whatever point
// of its cycle the stream happens to be, with anything from nothing to half a
// buffer of silence still queued: it gets silence too, and the soundtrack
// starts with the second request, which comes at the cycle's steady point.
static void feedSound(void *, Uint8 *stream, int length) {
    double now = clockSeconds();
    if (requestsSeen < requestsSilenced) {
        ++requestsSeen;
        std::memset(stream, soundSilence, (size_t)length);
        return;
    }
    double none = 0.0;
    startRequestedAt.compare_exchange_strong(none, now);
    double start = audibleAt.load();
    if (start > 0.0) {
        if (soundClock.rate == 0)
            soundClock = soundClockStart(start, soundRate, heardAfter);
        uint32_t frames = soundLength / soundFrameBytes;
        soundPosition = soundCatchUp(soundClock, soundPosition / soundFrameBytes, frames, now) *
                        soundFrameBytes;
    }
    uint32_t left = soundLength - soundPosition;
    uint32_t n = (uint32_t)length < left ? (uint32_t)length : left;
    std::memcpy(stream, soundData + soundPosition, n);
    soundPosition += n;
    std::memset(stream + n, soundSilence, (size_t)length - n);
}

// Waits until the soundtrack's first sample is due at the speaker, heardAfter
// the request that carries it. A device that never asks (a stuck server) is
// given up on after a second: the show starts, and the sound, if it comes,
// catches up.
static void waitUntilHeard() {
    double asked = clockSeconds();
    double requested;
    while ((requested = startRequestedAt.load()) == 0.0 && clockSeconds() - asked < 1.0)
        SDL_Delay(1);
    double heard = requested > 0.0 ? requested + heardAfter : clockSeconds();
    for (double now; (now = clockSeconds()) < heard;)
        SDL_Delay((Uint32)((heard - now) * 1000.0));
    audibleAt.store(heard);
}

// Back to the state before the first request: the soundtrack from its start,
// its clock unknown until it is heard.
static void rewindSound() {
    soundPosition = 0;
    requestsSeen = 0;
    soundClock = SoundClock();
    startRequestedAt.store(0.0);
    audibleAt.store(0.0);
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
    const char *driver = SDL_GetCurrentAudioDriver();
    bool server =
        driver && (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0);
    wanted.samples = server ? SERVER_BUFFER_FRAMES : DIRECT_BUFFER_FRAMES;
    requestsSilenced = server ? 1 : 0;
    heardAfter = server ? SERVER_HEARD_AFTER * wanted.samples / wanted.freq : 0.0;
    wanted.callback = feedSound;
    soundSilence = wanted.format == AUDIO_U8 ? 0x80 : 0;
    soundFrameBytes = (uint32_t)wanted.channels * (wanted.format == AUDIO_U8 ? 1 : 2);
    soundRate = wanted.freq;
    rewindSound();
    soundLost = false;
    // No changes allowed: SDL converts if the device differs, so the device
    // always gets the image's own samples in the image's own format.
    soundDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (!soundDevice) {
        platformSay("no audio device: %s; playing without sound", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    SDL_PauseAudioDevice(soundDevice, 0);
    waitUntilHeard();
}

void audioDeviceRemoved(uint32_t device) {
    if (!soundDevice || device != soundDevice || soundLost)
        return;
    soundLost = true;
    platformSay("the sound device is gone; the show goes on without sound");
}

void audioSilence() {
    if (soundDevice)
        SDL_PauseAudioDevice(soundDevice, 1);
}

// Under the device's lock, so the audio thread never sees half a rewind; then,
// as at the first start, back only once the soundtrack's start is heard.
void platformRestartSound() {
    if (!soundDevice || soundLost)
        return;
    SDL_LockAudioDevice(soundDevice);
    rewindSound();
    SDL_UnlockAudioDevice(soundDevice);
    waitUntilHeard();
}

void audioClose() {
    if (soundDevice) {
        SDL_CloseAudioDevice(soundDevice);
        soundDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}
