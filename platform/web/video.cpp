// The picture on the page: a WebGL canvas behind Emscripten's fixed-function
// emulation, presented once per animation frame, and the Escape key.
//
// The page makes a canvas for each play, fits it 4:3 between black bars and
// asks for full screen in the click that starts the play; here the canvas
// gets its drawing buffer and context. A swap returns control to the browser,
// which shows the frame, and resumes in the next animation frame's callback
// (Asyncify keeps the show's own loop). The page has one screen; a window
// request keeps the show inside the page instead of full screen.
#include "platform/common/timing.h"
#include "platform/platform.h"
#include "platform/web/internal.h"

#include <cstdio>

extern "C" {
int pelmiraOpenCanvas(int width, int height);
int pelmiraTakeEscape();
void pelmiraCloseVideo();
void pelmiraLeaveFullScreen();
void nextAnimationFrame();
void pelmiraMarkFrame();
}

static char error[200];

int platformScreenCount() {
    return 1;
}

bool platformOpenDisplay(int width, int height) {
    if (screenWindowed())
        pelmiraLeaveFullScreen();
    if (!pelmiraOpenCanvas(width, height)) {
        std::snprintf(error, sizeof error,
                      "cannot open the display: this browser gives the page no WebGL");
        return false;
    }
    markContextReady();
    return true;
}

const char *platformError() {
    return error;
}

void platformSwapBuffers() {
    markFramePresented();
    pelmiraMarkFrame();
    nextAnimationFrame();
}

int platformEscapePressed() {
    return pelmiraTakeEscape();
}

void videoClose() {
    pelmiraCloseVideo();
}
