#include "show/playback.h"

#include "music/wave_image.h"
#include "platform/platform.h"

uint32_t startPlayback() {
    return platformPlaySound(&waveImage);
}

uint32_t restartPlayback() {
    return platformRestartSound();
}
