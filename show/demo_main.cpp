#include "show/demo_main.h"

#include "music/synth.h"
#include "music/wave_image.h"
#include "platform/platform.h"
#include "show/display.h"
#include "show/playback.h"
#include "show/show_options.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/gl.h>

DemoClock demoClock;

static const float MILLISECOND = 0.001f;

float demoTime(uint32_t startTick, uint32_t now) {
    // Unsigned, so one wrap of the counter still gives the true elapsed time.
    uint32_t elapsed = now - startTick;
    // A sink that has mixed ahead starts the sound, and so the clock, a little
    // after the sound was started: until then the first picture holds.
    if (elapsed > 0x7FFFFFFFu)
        elapsed = 0;
    return (float)((double)elapsed * (double)MILLISECOND);
}

bool buildShow() {
    if (!setupDisplay())
        return false;
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    uploadTextures();
    writeWaveHeader();
    renderMusic(waveImage.samples);
    return true;
}

int demoFrame(uint32_t now) {
    demoClock.t = demoTime(demoClock.startTick, now);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    if (demoClock.t >= SHOW_LENGTH)
        return 0;
    drawFrame(demoClock.t);
    return 1;
}

// Back to the state the show starts in, for --loop: the picture's render state
// as it was before the first frame, the soundtrack from its beginning, and a
// new start tick, as at the start.
static void rewindShow(const ShowOptions &options) {
    restoreStartState();
    demoClock.startTick = options.mute ? platformTicks() : restartPlayback();
}

void demoMain(const ShowOptions &options) {
    if (!buildShow()) {
        platformSay("%s", platformError());
        platformExit(1);
    }
    if (options.loop)
        keepStartState();
    // The tick at which the soundtrack's first sample is heard, which comes
    // after the music is made, so the start-up never enters t.
    demoClock.startTick = options.mute ? platformTicks() : startPlayback();
    if (platformEscapePressed())
        platformExit(0);

    for (;;) {
        // The frame that reaches the end is cleared but never drawn or shown.
        if (!demoFrame(platformTicks())) {
            if (!options.loop)
                platformExit(0);
            rewindShow(options);
            continue;
        }
        platformSwapBuffers();
        if (platformEscapePressed())
            platformExit(0);
    }
}
