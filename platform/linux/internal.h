// Shared between the Linux backend's own files; nothing outside platform/ includes
// it. Each service group gives back what it holds through its close function,
// which platformExit calls; none of them calls another group but the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string.h>

#include "platform/common/driver_list.h"
#include "platform/common/requests.h"
#include "platform/common/timing.h"
#include "platform/common/wave_header.h"

struct SDL_Window;

// --- system.cpp --------------------------------------------------------------

// The display server or compositor went away: says so in one line (the first
// time only), and from then on the Escape poll answers yes and platformExit
// ends with status 1 whatever its caller asked, as the show did not finish.
void displayLost(const char *format, ...) __attribute__((format(printf, 1, 2)));
bool displayWasLost();

// Marks the display lost without a word, as displayLost does; true the first
// time. Safe in a signal handler, which then says so itself.
bool claimDisplayLoss();

// --- video.cpp, audio.cpp, font.cpp ------------------------------------------

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

// Before SDL starts on X11: Xlib's trouble (a lost server, a refused request,
// a missing extension, a crash in GLX once the server is gone) becomes one
// line of ours. A lost server ends the show at once with status 1; a refused
// request at its next Escape poll, with status 1 too.
void x11Prepare();

// Remembers the window if SDL runs it on X11, and has a lost server reported
// through displayLost instead of ending the process; false elsewhere.
bool x11Attach(SDL_Window *window);

// True if Escape is down on the window's X server now, asked only while the
// window has the input focus or before it has ever had it.
bool x11EscapeHeld();

// Where the window really is on the root window, {x, y, width, height}: SDL's
// own idea misses a window manager moving a full-screen window. False where
// the window is not on X11.
bool x11WindowRect(int rect[4]);

// Readies presentation through shared memory for a width x height picture
// shown pixel for pixel; false where the server or the visual does not allow
// it. Worth it only with a software renderer, where GL's own flipped blit is
// drawn as a textured quad.
bool x11OpenSharedPresent(int width, int height);

// Reads the current read framebuffer, top row first, into the shared image and
// has the server copy it into the window; returns once the server is done.
void x11PresentShared();

void x11Close();

// --- wayland.cpp, or wayland_none.cpp where the build has no Wayland client ---

// Asks the compositor at WAYLAND_DISPLAY whether it gives what SDL's driver
// needs (a compositor, xdg-shell, a seat); false with the reason in why if not.
bool waylandUsable(char *why, size_t size);

// True if the window is SDL's on Wayland and the compositor has gone away.
bool waylandConnectionLost(SDL_Window *window);

// --- audio.cpp, audio_pulse.cpp, audio_sdl.cpp ---------------------------------

// Seconds of SDL's performance counter, the tick counter's clock: what the
// players time the first sample, and the requests, with.
double soundSeconds();

// Silence from now on, sent without waiting for the device; audioClose still
// gives it back.
void audioSilence();

// Called at every event poll: a sound server that has gone away is said in
// one line, and the show goes on silently.
void audioCheck();

// The event pump's news that an SDL audio device is gone: if it is the one the
// soundtrack plays on, one line says so and the show goes on silently.
void audioDeviceRemoved(uint32_t device);

// Each player starts the track once and returns when its first sample is due
// at the speaker, with that moment in heard (seconds of soundSeconds: now, a
// little before, or where a sink has mixed ahead, up to two seconds after),
// or returns false with the reason in why. Restart plays it
// again from its start, in the same way; false if the device is gone.
bool pulsePlay(const SoundTrack &track, double *heard, char *why, size_t size);
bool pulseRestart(double *heard);
void pulseSilence();
bool pulseLost();       // the server went away while playing
bool pulseUnanswered(); // the last start failed for want of an answer
void pulseClose();

bool sdlSoundPlay(const char *driver, const SoundTrack &track, double *heard, char *why,
                  size_t size);
bool sdlSoundRestart(double *heard);
void sdlSoundSilence();
bool sdlSoundRemoved(uint32_t device); // true if it was the soundtrack's device
void sdlSoundClose();

// True once the user has asked the show to end (a signal, Escape, the window
// closed) while the sound is being started: waits for a device end at once.
// Asked on the main thread only; takes no event away from the show's poll.
bool soundStartAbandoned();

// --- driver.cpp ---------------------------------------------------------------

// Starts SDL's video on the driver that will show the picture: the user's
// choice, or offscreen when headless, else native Wayland first on a Wayland
// session and then every driver that shows something, in SDL's order. False
// with one line in why (size bytes) when none starts.
bool startVideoDriver(char *why, size_t size);

// --- end_watch.cpp -------------------------------------------------------------

// Once the show is to have a display: an end signal that the show has not
// acted on within a grace, renewed at each endWatchProgress, ends the process
// by that signal; a display server that has stopped answering holds the show
// where it cannot notice. Signalled is safe in a signal handler.
void endWatchStart();
void endWatchSignalled();
void endWatchProgress();

// --- window_watch.cpp ---------------------------------------------------------

// Sets the swap interval: adaptive where offered, else every vertical blank.
void setSwapInterval();

// Called at every event poll: where the window is full screen and a window
// manager has not honoured that (placed it, or left part of the display
// uncovered), asks again, a few times at most.
void keepFullScreen(SDL_Window *window);
