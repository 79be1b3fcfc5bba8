// The choice of SDL's video driver.
//
// SDL 2 prefers X11 whenever DISPLAY is set, which on a Wayland session means
// Xwayland: there the native driver is tried first, after a look at the
// compositor, with Xwayland as the fallback. SDL's own last resort, the
// offscreen driver, would run the show invisibly and report success, so only
// drivers that show something are tried unless the user or headless mode has
// chosen one.
#include "platform/linux/internal.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool isScreenDriver(const char *name) {
    // These drivers draw where no one sees it; the show would run blind.
    if (std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0 ||
        std::strcmp(name, "evdev") == 0)
        return false;
    // Without either variable libwayland cannot connect and only complains.
    if (std::strcmp(name, "wayland") == 0 && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("XDG_RUNTIME_DIR"))
        return false;
    return true;
}

// One driver: SDL started on it, or the first reason for failing kept in why.
// Every path comes here, so the compositor is always looked at before SDL is
// handed it: SDL's Wayland driver crashes on one without a seat.
static bool tryDriver(const char *name, char *why, size_t size) {
    char reason[256] = "";
    bool wayland = std::strcmp(name, "wayland") == 0;
    if (!wayland || waylandUsable(reason, sizeof reason)) {
        if (std::strcmp(name, "x11") == 0)
            x11Prepare();
        // Above SDL_VIDEODRIVER, which SDL would otherwise read instead.
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, name, SDL_HINT_OVERRIDE);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0)
            return true;
        const char *display = std::getenv("DISPLAY");
        if (std::strcmp(name, "x11") == 0 && display)
            std::snprintf(reason, sizeof reason, "no X server answers at DISPLAY=%s", display);
        else if (std::strcmp(name, "x11") == 0)
            std::snprintf(reason, sizeof reason, "no X server (DISPLAY is not set)");
        else
            std::snprintf(reason, sizeof reason, "%s: %s", name, SDL_GetError());
    }
    if (!why[0])
        std::snprintf(why, size, "%s", reason);
    return false;
}

bool startVideoDriver(char *why, size_t size) {
    why[0] = '\0';
    // A borderless full-screen window needs no decorations, and libdecor
    // without its plugins only prints complaints; a window the user moves
    // about is worth them.
    if (!screenWindowed())
        SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
    // Above SDL_VIDEODRIVER too: one set for the user's desktop must not send
    // a capture to a window system it does not need.
    if (headlessRequested())
        return tryDriver("offscreen", why, size);
    endWatchStart();
    // The user's list, comma-separated as SDL takes it.
    if (const char *named = std::getenv("SDL_VIDEODRIVER"))
        return tryListedDrivers(
            named, "SDL_VIDEODRIVER", [&](const char *name) { return tryDriver(name, why, size); },
            why, size);
    bool waylandSession = std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (waylandSession && tryDriver("wayland", why, size))
        return true;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char *name = SDL_GetVideoDriver(i);
        if (isScreenDriver(name) && !(waylandSession && std::strcmp(name, "wayland") == 0) &&
            tryDriver(name, why, size))
            return true;
    }
    if (!std::getenv("DISPLAY") && !waylandSession)
        std::snprintf(why, size, "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    else if (!why[0])
        std::snprintf(why, size, "no video driver");
    return false;
}
