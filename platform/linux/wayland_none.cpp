// Stands in for wayland.cpp in builds without the Wayland client library:
// SDL is handed the compositor unexamined.
#include "platform/linux/internal.h"

bool waylandUsable(char *, size_t) {
    return true;
}

bool waylandConnectionLost(SDL_Window *) {
    return false;
}
