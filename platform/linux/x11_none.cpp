// Stands in for x11.cpp in builds without X11: the Escape poll rests on SDL's
// own keyboard state and every picture goes through GL's blit.
#include "platform/linux/internal.h"

void x11Prepare() {}

bool x11Attach(SDL_Window *) {
    return false;
}

bool x11EscapeHeld() {
    return false;
}

bool x11WindowRect(int[4]) {
    return false;
}

bool x11OpenSharedPresent(int, int) {
    return false;
}

void x11PresentShared() {}

void x11Close() {}
