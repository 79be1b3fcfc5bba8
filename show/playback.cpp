#include "show/playback.h"

#include "music/wave_image.h"
#include "platform/platform.h"

void startPlayback() {
    platformPlaySound(&waveImage);
}

void restartPlayback() {
    platformRestartSound();
}
