// What the program asked of the platform before its display opened, and the
// name it goes by in messages: kept alike by every backend, so that the same
// command line means the same on each.
#pragma once

#include <cstdarg>
#include <cstddef>

void setProgramName(const char *name);
const char *programName();

// True once platformRequestHeadless has been called.
bool headlessRequested();

// True if platformRequestWindow asked for a window instead of the full
// screen; its size then.
bool screenWindowed();
int requestedWindowWidth();
int requestedWindowHeight();

// The monitor platformRequestScreen chose, or -1: the one with the pointer.
int requestedScreen();

// "name: " and the formatted text, as every line the platform says starts;
// cut to size.
void formatSayLine(char *line, size_t size, const char *format, va_list arguments);
