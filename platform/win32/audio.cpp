// The sound player: winmm's waveOut, which every Windows has and which plays
// PCM from the program's own memory in the format the wave header gives.
//
// The whole soundtrack is handed to the device in one buffer at the start, so
// that a busy machine can never leave the device without sound to play: the
// system mixes it on a thread of its own. The call returns once the device's
// position has moved, that is once the first sample has reached the speaker,
// so that the show's clock, started then, runs with what is heard; the
// position counts samples played, later by one mixing period at most than the
// moment the first was. Ending resets the device, which drops what it holds
// at once instead of playing it out. (sndPlaySound would play from memory
// too, but says neither when the sound starts nor how to stop it at once.)
#include "platform/common/wave_header.h"
#include "platform/platform.h"
#include "platform/win32/internal.h"

#include <cstring>
#include <mmsystem.h>

static HWAVEOUT device;
static WAVEHDR buffer;
static int rate;

// How long a device may take to start playing before the show goes on
// without waiting: far beyond any driver's latency.
static const double START_WAIT = 2.0;

static uint32_t playedFrames() {
    MMTIME position = {};
    position.wType = TIME_SAMPLES;
    if (waveOutGetPosition(device, &position, sizeof position) != MMSYSERR_NOERROR)
        return 0;
    if (position.wType == TIME_SAMPLES)
        return position.u.sample;
    if (position.wType == TIME_BYTES)
        return position.u.cb / (buffer.dwUser ? (DWORD)buffer.dwUser : 1);
    return 1; // a device that counts in neither: do not wait for it
}

// Hands the whole track over, waits for its first sample to be heard and
// gives the tick it was heard at: what has played by the time this thread
// reads the counter is taken off, so a late wake-up does not shift the clock.
static uint32_t playFromStart() {
    waveOutWrite(device, &buffer, sizeof buffer);
    double deadline = systemSeconds() + START_WAIT;
    uint32_t played;
    while ((played = playedFrames()) == 0 && systemSeconds() < deadline)
        Sleep(1);
    uint32_t now = platformTicks();
    return rate > 0 ? now - (uint32_t)((uint64_t)played * 1000 / (uint64_t)rate) : now;
}

static void say(const char *what, MMRESULT code) {
    char why[MAXERRORLENGTH] = "";
    waveOutGetErrorTextA(code, why, sizeof why);
    size_t length = std::strlen(why);
    if (length > 0 && why[length - 1] == '.')
        why[length - 1] = '\0'; // the line goes on after it
    platformSay("%s: %s; the show goes on without sound", what, why);
}

uint32_t platformPlaySound(const void *waveImage) {
    if (headlessRequested() || device)
        return platformTicks();
    SoundTrack track;
    if (!readWaveHeader(static_cast<const unsigned char *>(waveImage), &track)) {
        platformSay("the soundtrack is not PCM the player knows; the show goes on without sound");
        return platformTicks();
    }
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = (WORD)track.channels;
    format.nSamplesPerSec = (DWORD)track.rate;
    format.wBitsPerSample = (WORD)track.bits;
    format.nBlockAlign = (WORD)soundFrameBytes(track);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    MMRESULT result = waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        device = nullptr;
        say("no sound device", result);
        return platformTicks();
    }
    buffer.lpData = (LPSTR)track.data;
    buffer.dwBufferLength = track.bytes;
    buffer.dwUser = soundFrameBytes(track); // to turn a byte position into frames
    result = waveOutPrepareHeader(device, &buffer, sizeof buffer);
    if (result != MMSYSERR_NOERROR) {
        say("the sound device refuses the soundtrack", result);
        waveOutClose(device);
        device = nullptr;
        return platformTicks();
    }
    rate = track.rate;
    return playFromStart();
}

uint32_t platformRestartSound() {
    if (!device)
        return platformTicks();
    waveOutReset(device);
    return playFromStart();
}

void audioClose() {
    if (!device)
        return;
    waveOutReset(device);
    waveOutUnprepareHeader(device, &buffer, sizeof buffer);
    waveOutClose(device);
    device = nullptr;
}
