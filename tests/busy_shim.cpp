// Loaded into the show with LD_PRELOAD to make its machine look busy and old:
// PELMIRA_WRAP_AFTER_MS offsets SDL's tick counter so that it wraps that many
// milliseconds after its first reading, as a machine's 32-bit uptime counter
// does; PELMIRA_SLOW_FRAME_MS keeps the main thread busy for up to that long
// (varying) once a frame, as a slow renderer would; PELMIRA_LATE_WAKE_MS
// makes every sleep of the main thread end that much late, as on a machine
// too busy to wake it in time.
#include <SDL.h>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {

static double seconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

Uint32 SDL_GetTicks() {
    static Uint32 (*real)(void);
    static Uint32 offset;
    static int started;
    if (!real)
        real = (Uint32(*)())dlsym(RTLD_NEXT, "SDL_GetTicks");
    Uint32 now = real();
    const char *wrap = getenv("PELMIRA_WRAP_AFTER_MS");
    if (!started && wrap) {
        started = 1;
        offset = (Uint32)(UINT32_MAX - (Uint32)atoi(wrap) - now + 1u);
    }
    return now + offset;
}

void SDL_GL_GetDrawableSize(SDL_Window *window, int *w, int *h) {
    static void (*real)(SDL_Window *, int *, int *);
    static unsigned frame;
    if (!real)
        real = (void (*)(SDL_Window *, int *, int *))dlsym(RTLD_NEXT, "SDL_GL_GetDrawableSize");
    const char *slow = getenv("PELMIRA_SLOW_FRAME_MS");
    if (slow) {
        // 0, 1/3, 2/3 and all of the time, in turn, and spinning, not asleep.
        double until = seconds() + atoi(slow) * 1e-3 * (frame++ % 4) / 3.0;
        while (seconds() < until) {
        }
    }
    real(window, w, h);
}

static int (*realNanosleep)(const struct timespec *, struct timespec *);

static void wakeLate() {
    const char *late = getenv("PELMIRA_LATE_WAKE_MS");
    if (!late || syscall(SYS_gettid) != getpid())
        return;
    if (!realNanosleep)
        realNanosleep =
            (int (*)(const struct timespec *, struct timespec *))dlsym(RTLD_NEXT, "nanosleep");
    long ms = atol(late);
    struct timespec more = {ms / 1000, ms % 1000 * 1000000L};
    realNanosleep(&more, nullptr);
}

int nanosleep(const struct timespec *wanted, struct timespec *left) {
    if (!realNanosleep)
        realNanosleep =
            (int (*)(const struct timespec *, struct timespec *))dlsym(RTLD_NEXT, "nanosleep");
    int result = realNanosleep(wanted, left);
    wakeLate();
    return result;
}

int usleep(useconds_t wanted) {
    struct timespec t = {(time_t)(wanted / 1000000), (long)(wanted % 1000000) * 1000L};
    return nanosleep(&t, nullptr);
}
}
