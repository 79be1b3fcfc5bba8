// What the show needs of the system, in place of the services of the Windows
// original: a window with a GL context, the tick counter, the Escape poll,
// presentation, a sound player, a font rasteriser and process end.
#pragma once

#include <cstdint>

// --- Display, window and context -------------------------------------------

// Makes platformOpenDisplay render into an invisible surface instead of the
// screen (the capture tool), on SDL's offscreen driver: no window system
// needed, no sound played, swapping presents nothing, and SIGINT and SIGTERM
// are left to the caller. Call before it.
void platformRequestHeadless();

// Opens a borderless full-screen window without cursor and one current GL
// compatibility context, with a width x height framebuffer (8-bit RGBA, 16-bit
// depth) bound that the show draws into. On failure it prints one line naming
// what failed to stderr and ends the process with status 1.
void platformOpenDisplay(int width, int height);

// Presents the finished frame: scaled to fit and centred in the window. Ends
// the process here if SIGINT or SIGTERM has come.
void platformSwapBuffers();

// Waits for the frame drawn so far and reads it back upright (top row first),
// 8-bit RGBA, width x height as opened.
void platformReadFrame(unsigned char *rgba);

// --- Clock and keyboard -----------------------------------------------------

// Milliseconds; wraps modulo 2^32.
uint32_t platformTicks();

// Non-zero if Escape is down now or was pressed since the previous poll, or
// the window was closed. Pumps the window system's events. Ends the process
// here, with the signal's own status, if SIGINT or SIGTERM has come.
int platformEscapePressed();

// --- Sound ------------------------------------------------------------------

// Starts playing a RIFF/WAVE image held in memory once, in the background, and
// returns at once. The image must stay valid and unchanged while it plays. If
// there is no sound device nothing plays.
void platformPlaySound(const void *waveImage);

// --- Font rasteriser --------------------------------------------------------

// Draws zero-terminated Windows-1250 text in anti-aliased white on a black
// 256x256 surface, in a Verdana-like semibold face whose cell is cellHeight
// pixels high, with the top centre of the text at column 128, row 128 counted
// from the top, and reads the surface back bottom-up as blue, green, red, 0.
void platformDrawText(unsigned char *image, int cellHeight, const char *text);

// --- Process end --------------------------------------------------------------

// Stops the sound, restores the display and ends the process with status.
// With PELMIRA_TIMING set in the environment, first prints one line of
// start-up and presentation times to stderr.
[[noreturn]] void platformExit(int status);
