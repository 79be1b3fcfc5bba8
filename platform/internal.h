// Shared between the platform's own files; nothing outside platform/ includes
// it. Each service group gives back what it holds through its close function,
// which platformExit calls; none of them calls another group but the system.
#pragma once

struct SDL_Window;

// --- system.cpp --------------------------------------------------------------

// The name given to platformStart.
const char *programName();

// True once platformRequestHeadless has been called.
bool headlessRequested();

// PELMIRA_TIMING marks, in seconds of the monotonic clock.
bool timingWanted();
void markContextReady();
void markFramePresented();

// --- video.cpp, audio.cpp, font.cpp -------------------------------------------

// Starts SDL's video on a driver that shows a picture (or the offscreen one
// when headless), unless it runs already; false once platformError() says why.
bool videoInit();

void videoClose();
void audioClose();
void fontClose();

// --- screen.cpp ----------------------------------------------------------------

// The show's window, before its GL context, as platformRequestWindow and
// platformRequestScreen asked: full screen without cursor on the chosen
// monitor, or a resizable window centred on it. Null when SDL refuses; its
// error says why.
SDL_Window *screenCreateWindow(const char *title);

// --- x11.cpp, or x11_none.cpp where the build has no X11 ---------------------

// Remembers the window if SDL runs it on X11; false elsewhere.
bool x11Attach(SDL_Window *window);

// True if Escape is down on the window's X server now.
bool x11EscapeHeld();

// Readies presentation through shared memory for a width x height picture
// shown pixel for pixel; false where the server or the visual does not allow
// it. Worth it only with a software renderer, where GL's own flipped blit is
// drawn as a textured quad.
bool x11OpenSharedPresent(int width, int height);

// Reads the current read framebuffer, top row first, into the shared image and
// has the server copy it into the window; returns once the server is done.
void x11PresentShared();

void x11Close();
