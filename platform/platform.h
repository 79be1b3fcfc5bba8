// The platform layer: what the show and the capture tool need of the system,
// on SDL2, X11, FreeType, fontconfig and iconv (platform/linux), or on Win32
// itself (platform/win32, the show only: there the environment variables
// below are not read, sound is winmm's and text GDI's). Nothing here ends the
// process except platformExit, and nothing here includes the show.
//
// Call order, all on the main thread:
//   platformStart(name)         first of all: names the program in messages,
//                               catches the signals that would end it
//   platformRequestHeadless()   optional, before the display is opened,
//   platformSetHeadlessSize()   and then optionally the picture's size
//   platformRequestWindow(w, h), platformRequestScreen(n), platformScreenCount()
//                               optional, before the display is opened
//   platformOpenDisplay(w, h)   window, GL context and the picture's
//                               framebuffer; false and platformError() on failure
//   platformDrawText(...)       any time, with or without a display
//   platformPlaySound(image)    once the display is open: gives the start tick
//   platformTicks(), then per frame platformSwapBuffers() and
//   platformEscapePressed(), or platformReadFrame() when headless
//   platformExit(status)        gives everything back and ends the process
// The only other threads are the sound's: libpulse's, which hands the sound
// image to the sound server, or SDL's audio thread; each reads the image and
// touches nothing else. platformEndSignal() may be read from any thread.
//
// Environment read: SDL_VIDEODRIVER (an explicit driver choice, else native
// Wayland first where WAYLAND_DISPLAY is set, then every driver that can show
// a picture in SDL's order), SDL_AUDIODRIVER (drivers to try in order,
// "pulseaudio" meaning a sound server through libpulse; else that server,
// then SDL's drivers but pipewire, disk and dummy), PULSE_SERVER and libpulse's
// other variables, DISPLAY and WAYLAND_DISPLAY,
// fontconfig's own variables (FONTCONFIG_FILE), and PELMIRA_TIMING (set: one
// line of start-up and presentation times on stderr at exit). Written:
// DBUS_SESSION_BUS_ADDRESS, to an unusable address where no session bus is to
// be found, so that libdbus does not start one that outlives the program.
//
// Headless (the capture tool) leaves out the window, the cursor, the sound
// device and presentation: the picture is drawn into the same framebuffer on
// SDL's offscreen driver and read back with platformReadFrame.
#pragma once

#include <cstdint>

// --- System: program name, signals, clock, process end ----------------------

// Opens /dev/null on any of descriptors 0, 1 and 2 that the program was
// started without, names the program in every line the platform prints, and
// catches SIGINT, SIGTERM, SIGHUP, SIGQUIT and the other signals whose default
// is to end the process, so that the program can give back what it holds
// before it ends. SIGPIPE is ignored: a closed reader is a failed write.
// Once a display is to be opened (not headless), an end signal the program
// has not acted on within two seconds, as when it waits on a display server
// that has stopped, ends the process by that signal there and then.
void platformStart(const char *programName);

// The first end signal caught since platformStart, or 0. Safe on any thread.
int platformEndSignal();

// Prints "name: " and the formatted text as one line on stderr.
void platformSay(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Milliseconds; wraps modulo 2^32.
uint32_t platformTicks();

// Stops the sound, gives back the display and ends the process: by the caught
// end signal if one has come (so the parent sees the signal), with status 1 if
// the display server or compositor went away (one line has said so), else
// with status.
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

// Opens a resizable width x height window with a title bar and the mouse
// pointer, instead of the full screen. The picture is fitted to it and
// centred between black bars at whatever size the user gives it; closing it
// counts as Escape.
void platformRequestWindow(int width, int height);

// Chooses the monitor, 0-based in SDL's numbering, that the full-screen
// window fills or the window is centred on. Without it: the one that holds
// the mouse pointer on X11, the first elsewhere.
void platformRequestScreen(int index);

// How many monitors the window system has; starts the video driver if it is
// not running yet. -1 when that fails; platformError() then says why.
int platformScreenCount();

// Opens a borderless full-screen window without cursor (or the window asked
// for above) and one current GL compatibility context, with a width x height
// framebuffer (8-bit RGBA, 16-bit depth) bound and the viewport set to it.
// False when any of that cannot be had; platformError() then says what failed.
bool platformOpenDisplay(int width, int height);

// What the last failed platformOpenDisplay could not do, as one line without
// the program's name ("cannot open the display: ...").
const char *platformError();

// Presents the finished frame: scaled to fit and centred in the window.
void platformSwapBuffers();

// Non-zero if Escape is down now or was pressed since the previous poll, the
// window was closed, an end signal has come, or the display server or
// compositor has gone away. Escape counts only while the window has the
// keyboard focus, or before it has first had it (a key held at launch).
// Pumps the window system's events: among them a lost sound device, which
// one line reports, and a window manager that did not make the window full
// screen, which is asked again.
int platformEscapePressed();

// Waits for the frame drawn so far and reads it back upright (top row first),
// 8-bit RGBA, at the picture's size: as opened, or as set headless.
void platformReadFrame(unsigned char *rgba);

// --- Audio -------------------------------------------------------------------

// Starts playing a RIFF/WAVE image held in memory once, in the background, and
// returns the tick counter's reading at the moment its first sample is due at
// the speaker: the server's own figures say when, or SDL's buffer, so a clock
// started from it runs with the sound however late the caller wakes. On a
// sound server it returns as soon as its figures say when, so the tick may
// still be to come: tens of milliseconds, or up to two seconds on a sink that
// has mixed ahead (an idle null sink). A sound server is handed seconds of the image ahead, drops
// only what would be heard late and, after stalling itself, skips ahead to
// where the clock is; on SDL's drivers, the sound skips ahead only once the
// device has really run dry. A server is given two
// seconds to start, and an end signal, Escape or a closed window ends the
// wait at once (the next Escape poll says so). The image must stay valid and
// unchanged while it plays. Without a sound device, or headless, nothing
// plays and the call returns platformTicks() at once.
uint32_t platformPlaySound(const void *waveImage);

// Plays the image given to platformPlaySound again from its beginning and,
// like it, returns the tick at which that beginning is due at the speaker;
// platformTicks() if no sound is playing (no device, never started, or the
// device is gone).
uint32_t platformRestartSound();

// --- Font --------------------------------------------------------------------

// Draws zero-terminated Windows-1250 text in anti-aliased white on a black
// 256x256 surface, in a Verdana-like semibold face whose cell is cellHeight
// pixels high, with the top centre of the text at column 128, row 128 counted
// from the top, and reads the surface back bottom-up as blue, green, red, 0.
// Without a usable font the surface stays black and one line says so.
void platformDrawText(unsigned char *image, int cellHeight, const char *text);
