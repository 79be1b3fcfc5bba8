// The platform layer: what the show and the capture tool need of the system,
// on SDL2, X11, FreeType, fontconfig and iconv. Nothing here ends the process
// except platformExit, and nothing here includes the show.
//
// Call order, all on the main thread:
//   platformStart(name)         first of all: names the program in messages,
//                               catches the signals that would end it
//   platformRequestHeadless()   optional, before the display is opened,
//   platformSetHeadlessSize()   and then optionally the picture's size
//   platformOpenDisplay(w, h)   window, GL context and the picture's
//                               framebuffer; false and platformError() on failure
//   platformDrawText(...)       any time, with or without a display
//   platformPlaySound(image)    once the display is open
//   platformTicks(), then per frame platformSwapBuffers() and
//   platformEscapePressed(), or platformReadFrame() when headless
//   platformExit(status)        gives everything back and ends the process
// The only other thread is SDL's audio thread, which reads the sound image
// and touches nothing else. platformEndSignal() may be read from any thread.
//
// Environment read: SDL_VIDEODRIVER and SDL_AUDIODRIVER (an explicit driver
// choice, else every driver that can show a picture is tried in SDL's order),
// DISPLAY and WAYLAND_DISPLAY, fontconfig's own variables (FONTCONFIG_FILE),
// and PELMIRA_TIMING (set: one line of start-up and presentation times on
// stderr at exit).
//
// Headless (the capture tool) leaves out the window, the cursor, the sound
// device and presentation: the picture is drawn into the same framebuffer on
// SDL's offscreen driver and read back with platformReadFrame.
#pragma once

#include <cstdint>

// --- System: program name, signals, clock, process end ----------------------

// Names the program in every line the platform prints and catches SIGINT,
// SIGTERM, SIGHUP, SIGQUIT and the other signals whose default is to end the
// process, so that the program can give back what it holds before it ends.
void platformStart(const char *programName);

// The first end signal caught since platformStart, or 0. Safe on any thread.
int platformEndSignal();

// Prints "name: " and the formatted text as one line on stderr.
void platformSay(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Milliseconds; wraps modulo 2^32.
uint32_t platformTicks();

// Stops the sound, gives back the display and ends the process: by the caught
// end signal if one has come (so the parent sees the signal), else with
// status.
[[noreturn]] void platformExit(int status);

// --- Video: window, context, picture, keyboard ------------------------------

// Makes platformOpenDisplay draw into an invisible surface on SDL's offscreen
// driver: no window system needed, no sound, swapping presents nothing.
void platformRequestHeadless();

// Headless only, before the display is opened: the picture's framebuffer, and
// the viewport set to it, is width x height whatever platformOpenDisplay is
// asked for, so the show is drawn at that resolution by the same calls. The
// projection is the show's own: keep the shape it asks for.
void platformSetHeadlessSize(int width, int height);

// Opens a borderless full-screen window without cursor and one current GL
// compatibility context, with a width x height framebuffer (8-bit RGBA, 16-bit
// depth) bound and the viewport set to it. False when any of that cannot be
// had; platformError() then says what failed.
bool platformOpenDisplay(int width, int height);

// What the last failed platformOpenDisplay could not do, as one line without
// the program's name ("cannot open the display: ...").
const char *platformError();

// Presents the finished frame: scaled to fit and centred in the window.
void platformSwapBuffers();

// Non-zero if Escape is down now or was pressed since the previous poll, the
// window was closed, or an end signal has come. Pumps the window system's
// events.
int platformEscapePressed();

// Waits for the frame drawn so far and reads it back upright (top row first),
// 8-bit RGBA, at the picture's size: as opened, or as set headless.
void platformReadFrame(unsigned char *rgba);

// --- Audio -------------------------------------------------------------------

// Starts playing a RIFF/WAVE image held in memory once, in the background, and
// returns at once. The image must stay valid and unchanged while it plays.
// Without a sound device, or headless, nothing plays and the show goes on.
void platformPlaySound(const void *waveImage);

// --- Font --------------------------------------------------------------------

// Draws zero-terminated Windows-1250 text in anti-aliased white on a black
// 256x256 surface, in a Verdana-like semibold face whose cell is cellHeight
// pixels high, with the top centre of the text at column 128, row 128 counted
// from the top, and reads the surface back bottom-up as blue, green, red, 0.
// Without a usable font the surface stays black and one line says so.
void platformDrawText(unsigned char *image, int cellHeight, const char *text);
