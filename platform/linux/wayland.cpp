// The Wayland-only pieces, the one file that talks to libwayland-client: a
// look at the compositor before SDL is handed it, and the connection's loss.
//
// SDL's Wayland driver takes a seat for granted and crashes on a compositor
// that has none (weston's headless back end): the show asks first, on a
// connection of its own that it closes again, and skips the driver with a
// reason instead. What libwayland would print on stderr itself (a runtime
// directory that is not set, a socket name too long) goes into that reason.
#include "platform/linux/internal.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <wayland-client.h>

namespace {

struct Offered {
    bool compositor, shell, seat;
};

void onGlobal(void *data, wl_registry *, uint32_t, const char *interface, uint32_t) {
    Offered *offered = static_cast<Offered *>(data);
    offered->compositor |= std::strcmp(interface, "wl_compositor") == 0;
    offered->shell |= std::strcmp(interface, "xdg_wm_base") == 0;
    offered->seat |= std::strcmp(interface, "wl_seat") == 0;
}

void onGlobalRemoved(void *, wl_registry *, uint32_t) {}

const wl_registry_listener REGISTRY_LISTENER = {onGlobal, onGlobalRemoved};

char logged[256]; // libwayland's last message, without "error: " or newline

void onLog(const char *format, va_list arguments) {
    char text[sizeof logged];
    std::vsnprintf(text, sizeof text, format, arguments);
    const char *start = std::strncmp(text, "error: ", 7) == 0 ? text + 7 : text;
    std::snprintf(logged, sizeof logged, "%s", start);
    logged[std::strcspn(logged, "\n")] = '\0';
}

} // namespace

bool waylandUsable(char *why, size_t size) {
    // A socket handed over by the compositor can be connected to only once.
    if (std::getenv("WAYLAND_SOCKET"))
        return true;
    const char *name = std::getenv("WAYLAND_DISPLAY");
    if (!name)
        name = "wayland-0";
    wl_log_set_handler_client(onLog);
    logged[0] = '\0';
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::snprintf(why, size, "no Wayland compositor answers at %s%s%s", name,
                      logged[0] ? ": " : "", logged);
        return false;
    }
    Offered offered = {false, false, false};
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &REGISTRY_LISTENER, &offered);
    bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    const char *missing = !offered.compositor ? "compositor interface"
                          : !offered.shell    ? "xdg-shell window interface"
                          : !offered.seat     ? "seat (no keyboard to end the show with)"
                                              : nullptr;
    if (!answered)
        std::snprintf(why, size, "the Wayland compositor at %s does not answer", name);
    else if (missing)
        std::snprintf(why, size, "the Wayland compositor at %s offers no %s", name, missing);
    return answered && !missing;
}

bool waylandConnectionLost(SDL_Window *window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_WAYLAND)
        return false;
    return wl_display_get_error(info.info.wl.display) != 0;
}
