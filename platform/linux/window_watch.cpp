// What the window needs of the desktop once it is open: presentation paced by
// the display, and a full screen that stays full.
#include "platform/linux/internal.h"

#include <SDL.h>
#include <cstring>

// Without it a real GPU either tears or spins at thousands of frames a second.
// Adaptive sync lets a late frame through at once instead of waiting a whole
// refresh. Software renderers take it as a no-op.
void setSwapInterval() {
    if (SDL_GL_SetSwapInterval(-1) != 0)
        SDL_GL_SetSwapInterval(1);
}

static const Uint32 CHECK_EVERY_MS = 250;
static const int MOST_REQUESTS = 8;

// Some window managers (weston's Xwayland one, for a start) place the window
// and keep their panel on top however it asked to be full screen; leaving full
// screen and asking again at the display's bounds gets the whole display.
void keepFullScreen(SDL_Window *window) {
    static Uint32 lastCheck;
    static int requests;
    const Uint32 fullScreen = SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (!window || (SDL_GetWindowFlags(window) & fullScreen) != fullScreen ||
        requests >= MOST_REQUESTS)
        return;
    Uint32 now = SDL_GetTicks();
    if (now - lastCheck < CHECK_EVERY_MS)
        return;
    lastCheck = now;
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &bounds) != 0)
        return;
    int rect[4];
    if (!x11WindowRect(rect)) {
        SDL_GetWindowPosition(window, &rect[0], &rect[1]);
        SDL_GetWindowSize(window, &rect[2], &rect[3]);
        // A Wayland client is never told where its window is.
        if (std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0) {
            rect[0] = bounds.x;
            rect[1] = bounds.y;
        }
    }
    if (rect[0] <= bounds.x && rect[1] <= bounds.y && rect[0] + rect[2] >= bounds.x + bounds.w &&
        rect[1] + rect[3] >= bounds.y + bounds.h)
        return;
    ++requests;
    SDL_SetWindowFullscreen(window, 0);
    SDL_SetWindowPosition(window, bounds.x, bounds.y);
    SDL_SetWindowSize(window, bounds.w, bounds.h);
    SDL_SetWindowFullscreen(window, fullScreen);
}
