// Where the show's window goes: full screen on one monitor, or a resizable
// window, and which monitor.
//
// SDL alone always fills its first monitor, which on a multi-monitor desktop
// is often not the one the user is looking at; the monitor that holds the
// mouse pointer is. Only X11 lets a program ask where the pointer is before
// it has a window of its own: elsewhere (Wayland) SDL's first monitor stays
// the default.
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <cstring>

int platformScreenCount() {
    if (!videoInit())
        return -1;
    int count = SDL_GetNumVideoDisplays();
    return count > 0 ? count : 0;
}

static int pointerScreen() {
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0)
        return 0;
    SDL_Point pointer;
    SDL_GetGlobalMouseState(&pointer.x, &pointer.y);
    int index = SDL_GetPointDisplayIndex(&pointer);
    return index >= 0 ? index : 0;
}

SDL_Window *screenCreateWindow(const char *title) {
    int screen = requestedScreen() >= 0 ? requestedScreen() : pointerScreen();
    if (screenWindowed()) {
        // Centred on its monitor, with the pointer left alone: a window is
        // something the user moves about and clicks.
        return SDL_CreateWindow(
            title, SDL_WINDOWPOS_CENTERED_DISPLAY(screen), SDL_WINDOWPOS_CENTERED_DISPLAY(screen),
            requestedWindowWidth(), requestedWindowHeight(),
            SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    }
    // Created at the monitor's size: without a window manager a full-screen
    // request alone keeps the window at the size it was created with.
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(screen, &bounds) != 0)
        return nullptr;
    SDL_Window *window = SDL_CreateWindow(title, bounds.x, bounds.y, bounds.w, bounds.h,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP |
                                              SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI);
    if (window)
        SDL_ShowCursor(SDL_DISABLE);
    return window;
}
