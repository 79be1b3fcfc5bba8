#include "music/wave_image.h"

#include "driver/platform.h"

WaveImage waveImage;

void startPlayback() { platformPlaySound(&waveImage); }
