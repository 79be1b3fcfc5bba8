// The soundtrack on one of SDL's audio drivers (ALSA straight to the card,
// PipeWire's own protocol, the disk and dummy drivers): the samples are read
// straight from the image on SDL's audio thread.
//
// SDL says nothing of what a device still holds, so the requests' timing has
// to tell (sound_clock.h): the device ran dry only if a request comes later
// than everything handed before it could have played, and then the sound
// skips ahead by the time lost instead of carrying the lag to the end. A
// device fed in time gets every byte of the soundtrack in order.
#include "platform/common/sound_clock.h"
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <thread>

// 46 ms at 44.1 kHz: short enough that closing the device, which waits for
// the audio thread's current period, does not hold up the end of the show;
// long enough for a card fed by a thread on a busy machine.
static const Uint16 BUFFER_FRAMES = 2048;

static SDL_AudioDeviceID soundDevice;
static SoundTrack soundTrack;
static uint32_t soundPosition; // frames; the audio thread's once playing, but under its lock
static unsigned char soundSilence;
static std::atomic<bool> silenced{false};
static bool soundLost;
static std::thread closer; // closing the device while the show ends

// Seconds of SDL's performance counter (the tick counter's clock): when the
// device asked for the soundtrack's first samples, and when the first one is
// heard. Zero until known; set once, then only read.
static std::atomic<double> startRequestedAt{0.0};
static SoundClock soundClock; // the audio thread's
static int requestsSeen;      // the audio thread's
static int requestsSilenced;  // the first requests after unpausing, 0 or 1
static double heardAfter;     // seconds from a request to its first sample heard

// PipeWire's first request after unpausing comes at whatever point of its
// cycle the stream happens to be: it gets silence, and the soundtrack starts
// with the second request, which comes at the cycle's steady point.
static void feedSound(void *, Uint8 *stream, int length) {
    double now = soundSeconds();
    if (silenced.load() || requestsSeen < requestsSilenced) {
        ++requestsSeen;
        std::memset(stream, soundSilence, (size_t)length);
        return;
    }
    double none = 0.0;
    startRequestedAt.compare_exchange_strong(none, now);
    uint32_t frameBytes = soundFrameBytes(soundTrack);
    uint32_t frames = soundTrack.bytes / frameBytes, asked = (uint32_t)length / frameBytes;
    soundPosition = soundCatchUp(soundClock, soundPosition, asked, frames, now);
    uint32_t left = (frames - soundPosition) * frameBytes;
    uint32_t n = (uint32_t)length < left ? (uint32_t)length : left;
    std::memcpy(stream, soundTrack.data + (size_t)soundPosition * frameBytes, n);
    soundPosition += n / frameBytes;
    std::memset(stream + n, soundSilence, (size_t)length - n);
}

// Waits until the soundtrack's first sample is due at the speaker, heardAfter
// the request that carries it, and returns that moment. A device that never
// asks (a stuck server) is given up on after a second: the show starts, and
// the sound, if it comes, catches up. The user asking to end ends the wait.
static double waitUntilHeard() {
    double asked = soundSeconds();
    double requested;
    while ((requested = startRequestedAt.load()) == 0.0 && soundSeconds() - asked < 1.0 &&
           !soundStartAbandoned())
        SDL_Delay(1);
    double heard = requested > 0.0 ? requested + heardAfter : soundSeconds();
    for (double now; (now = soundSeconds()) < heard && !soundStartAbandoned();)
        SDL_Delay((Uint32)((heard - now) * 1000.0));
    return heard;
}

// Back to the state before the first request: the soundtrack from its start.
static void rewindSound() {
    soundPosition = 0;
    requestsSeen = 0;
    // A card or a server still holds about a buffer when it asks. The disk and
    // dummy drivers ask once they have written the last one out and slept for
    // its length, but a wake-up late on a busy machine loses nothing there:
    // they are given the same buffer of slack.
    soundClock = soundClockStart(soundTrack.rate, (double)BUFFER_FRAMES / soundTrack.rate);
    startRequestedAt.store(0.0);
}

// SDL's message, named by the driver unless it names itself ("ALSA: ...").
static void sayWhy(const char *driver, char *why, size_t size) {
    const char *error = SDL_GetError();
    if (strncasecmp(error, driver, std::strlen(driver)) == 0)
        std::snprintf(why, size, "%s", error);
    else
        std::snprintf(why, size, "%s: %s", driver, error);
}

// libasound prints its own complaints on stderr; SDL's message says enough.
static void quietAlsa(const char *, int, const char *, int, const char *, ...) {}

bool sdlSoundPlay(const char *driver, const SoundTrack &track, double *heard, char *why,
                  size_t size) {
    if (std::strcmp(driver, "alsa") == 0)
        snd_lib_error_set_handler(quietAlsa);
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, driver, SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        sayWhy(driver, why, size);
        return false;
    }
    SDL_AudioSpec wanted;
    std::memset(&wanted, 0, sizeof wanted);
    wanted.freq = track.rate;
    wanted.format = track.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    wanted.channels = (Uint8)track.channels;
    wanted.samples = BUFFER_FRAMES;
    wanted.callback = feedSound;
    soundTrack = track;
    soundSilence = wanted.format == AUDIO_U8 ? 0x80 : 0;
    bool server = std::strcmp(driver, "pipewire") == 0;
    requestsSilenced = server ? 1 : 0;
    // Measured on PipeWire: a stream's first sample is heard about half a
    // buffer after the request that carries it.
    heardAfter = server ? 0.5 * wanted.samples / wanted.freq : 0.0;
    rewindSound();
    silenced.store(false);
    soundLost = false;
    // No changes allowed: SDL converts if the device differs, so the device
    // always gets the image's own samples in the image's own format.
    soundDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (!soundDevice) {
        sayWhy(driver, why, size);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    SDL_PauseAudioDevice(soundDevice, 0);
    *heard = waitUntilHeard();
    return true;
}

bool sdlSoundRemoved(uint32_t device) {
    if (!soundDevice || device != soundDevice || soundLost)
        return false;
    soundLost = true;
    return true;
}

// Not SDL's pause: a paused device still waits out its periods. Closing the
// device waits for the audio thread's period and then two more, which it
// gives the sound to drain: that wait runs beside the rest of the ending.
void sdlSoundSilence() {
    silenced.store(true);
    if (soundDevice && !closer.joinable())
        closer = std::thread(SDL_CloseAudioDevice, soundDevice);
}

// Under the device's lock, so the audio thread never sees half a rewind; then,
// as at the first start, back only once the soundtrack's start is heard.
bool sdlSoundRestart(double *heard) {
    if (!soundDevice || soundLost)
        return false;
    SDL_LockAudioDevice(soundDevice);
    rewindSound();
    SDL_UnlockAudioDevice(soundDevice);
    *heard = waitUntilHeard();
    return true;
}

void sdlSoundClose() {
    if (soundDevice) {
        if (closer.joinable())
            closer.join();
        else
            SDL_CloseAudioDevice(soundDevice);
        soundDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}
