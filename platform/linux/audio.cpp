// The sound player: plays a RIFF/WAVE image held in memory once, in the
// format its own header gives (integer PCM of 8 or 16 bits in one or two
// channels), and keeps it to the picture's clock.
//
// A sound server (PulseAudio, or PipeWire through pipewire-pulse) is written
// to through libpulse, which can be handed seconds of the soundtrack ahead and
// says when a sample is heard (audio_pulse.cpp); every other driver, and a
// machine without a server, is SDL's (audio_sdl.cpp). SDL_AUDIODRIVER names
// the drivers to try, in order, "pulseaudio" meaning ours; without it the
// server comes first, then SDL's own drivers but its pipewire one, which
// loses most of the sound in dropouts (README: desktops). No device means no
// sound and one line saying why; a server that is there but does not answer
// means no sound too, as every other way to the speaker would wait on it
// (ALSA's default device is the server's).
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

enum class Player { NONE, PULSE, SDL };
static Player player;
static bool lostSaid;
static bool stopTrying; // the user asked to end, or a server does not answer

double soundSeconds() {
    return (double)SDL_GetPerformanceCounter() / (double)SDL_GetPerformanceFrequency();
}

// Peeks, so that the show's own poll still finds what ended it.
bool soundStartAbandoned() {
    if (platformEndSignal() != 0)
        return true;
    SDL_PumpEvents();
    SDL_Event events[16];
    int n = SDL_PeepEvents(events, 16, SDL_PEEKEVENT, SDL_QUIT, SDL_KEYDOWN);
    for (int i = 0; i < n; ++i)
        if (events[i].type == SDL_QUIT || (events[i].type == SDL_KEYDOWN &&
                                           (events[i].key.keysym.sym == SDLK_ESCAPE ||
                                            events[i].key.keysym.scancode == SDL_SCANCODE_ESCAPE)))
            return true;
    return SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
}

// The tick counter's reading at `heard` (seconds of soundSeconds): how late
// the process got round to asking never enters the clock.
static uint32_t tickAt(double heard) {
    double ago = soundSeconds() - heard;
    uint32_t ticks = SDL_GetTicks();
    markTick(ago);
    return ticks - (uint32_t)(int32_t)std::lround(ago * 1000.0);
}

// One driver: the sound playing on it, or the first reason for failing kept.
static bool tryDriver(const char *name, const SoundTrack &track, double *heard, char *why,
                      size_t size) {
    if (stopTrying)
        return false;
    char reason[256] = "";
    bool ours = std::strcmp(name, "pulseaudio") == 0;
    if (ours ? pulsePlay(track, heard, reason, sizeof reason)
             : sdlSoundPlay(name, track, heard, reason, sizeof reason)) {
        player = ours ? Player::PULSE : Player::SDL;
        return true;
    }
    stopTrying = platformEndSignal() != 0 || soundStartAbandoned() || (ours && pulseUnanswered());
    if (!why[0])
        std::snprintf(why, size, "%s", reason);
    return false;
}

// The user's list, comma-separated as SDL takes it, or the default order.
static bool startPlayer(const SoundTrack &track, double *heard, char *why, size_t size) {
    why[0] = '\0';
    if (const char *named = std::getenv("SDL_AUDIODRIVER"))
        return tryListedDrivers(
            named, "SDL_AUDIODRIVER",
            [&](const char *name) { return tryDriver(name, track, heard, why, size); }, why, size);
    if (tryDriver("pulseaudio", track, heard, why, size))
        return true;
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
        const char *name = SDL_GetAudioDriver(i);
        // Ours is tried; disk and dummy play nothing anyone hears; sndio is
        // OpenBSD's server, which Linux desktops do not run and whose library
        // prints to stderr where it is missing.
        if (std::strcmp(name, "pulseaudio") != 0 && std::strcmp(name, "pipewire") != 0 &&
            std::strcmp(name, "sndio") != 0 && std::strcmp(name, "disk") != 0 &&
            std::strcmp(name, "dummy") != 0 && tryDriver(name, track, heard, why, size))
            return true;
    }
    return false;
}

uint32_t platformPlaySound(const void *waveImage) {
    // Headless, the picture is made offline and its sound written to a file.
    if (headlessRequested() || player != Player::NONE)
        return platformTicks();
    SoundTrack track;
    if (!readWaveHeader((const unsigned char *)waveImage, &track)) {
        platformSay("the soundtrack is not a PCM wave image; playing without sound");
        return platformTicks();
    }
    lostSaid = false;
    stopTrying = false;
    char why[256];
    double heard;
    if (startPlayer(track, &heard, why, sizeof why))
        return tickAt(heard);
    // Asked to end: the show's next poll ends it, with nothing more to say.
    if (!(platformEndSignal() != 0 || soundStartAbandoned()))
        platformSay("no audio device: %s; playing without sound", why);
    return platformTicks();
}

uint32_t platformRestartSound() {
    double heard;
    if ((player == Player::PULSE && pulseRestart(&heard)) ||
        (player == Player::SDL && sdlSoundRestart(&heard)))
        return tickAt(heard);
    return platformTicks();
}

static void soundLost() {
    if (lostSaid)
        return;
    lostSaid = true;
    platformSay("the sound device is gone; the show goes on without sound");
}

void audioCheck() {
    if (player == Player::PULSE && pulseLost())
        soundLost();
}

void audioDeviceRemoved(uint32_t device) {
    if (player == Player::SDL && sdlSoundRemoved(device))
        soundLost();
}

void audioSilence() {
    if (player == Player::PULSE)
        pulseSilence();
    else if (player == Player::SDL)
        sdlSoundSilence();
}

void audioClose() {
    if (player == Player::PULSE)
        pulseClose();
    else if (player == Player::SDL)
        sdlSoundClose();
    player = Player::NONE;
}
