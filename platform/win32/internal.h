// Shared between the Windows backend's own files; nothing outside platform/
// includes it. Each service group gives back what it holds through its close
// function, which platformExit calls.
#pragma once

#include <cstdint>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/common/requests.h"

// --- system.cpp --------------------------------------------------------------

// Seconds of the performance counter, the clock the tick counter is made of.
double systemSeconds();

// --- screen.cpp ----------------------------------------------------------------

// The show's window as platformRequestWindow and platformRequestScreen asked:
// a borderless popup covering the chosen monitor, or a resizable window
// centred on it. Null on failure, with GetLastError() set.
HWND screenCreateWindow(const char *title, WNDPROC procedure);

// --- video.cpp -------------------------------------------------------------------

HWND videoWindow();

// --- keys.cpp ----------------------------------------------------------------------

// The window procedure: records a close request and Escape pressed.
LRESULT CALLBACK keysWindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l);

// --- audio.cpp -------------------------------------------------------------------------

// Stops the sound at once and gives the device back.
void audioClose();
