// The requests made before the display opens and the program's name: plain
// values the backends read when they open the display or say something.
#include "platform/common/requests.h"
#include "platform/platform.h"

#include <cstdio>

static const char *name = ""; // until platformStart
static bool headless;
static int screenIndex = -1; // -1: the one with the mouse pointer
static int windowWidth;      // 0: full screen
static int windowHeight;

void setProgramName(const char *programName) {
    name = programName;
}

const char *programName() {
    return name;
}

void platformRequestHeadless() {
    headless = true;
}

bool headlessRequested() {
    return headless;
}

void platformRequestWindow(int width, int height) {
    windowWidth = width;
    windowHeight = height;
}

bool screenWindowed() {
    return windowWidth > 0;
}

int requestedWindowWidth() {
    return windowWidth;
}

int requestedWindowHeight() {
    return windowHeight;
}

void platformRequestScreen(int index) {
    screenIndex = index;
}

int requestedScreen() {
    return screenIndex;
}

void formatSayLine(char *line, size_t size, const char *format, va_list arguments) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::snprintf(line, size, "%s%s%s", name, *name ? ": " : "", text);
}
