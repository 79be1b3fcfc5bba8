// System services in the browser: messages on the page's console, the
// millisecond clock, and the end of a play.
//
// The clock is the page's performance.now(), the same one Web Audio's output
// timestamps are given in, so the sound and the picture share it. Ending a
// play stops this program instance for good: its stack is unwound into a wait
// that nothing ever ends, and the page's onExit hook hears the status, shows
// its start screen and drops the instance, whose memory the browser then
// reclaims. The next play is a fresh instance, from the show's initial state.
// (The runtime's own exit would throw out of the animation frame's callback,
// an uncaught error on the page's console.) There are no signals.
#include "platform/common/timing.h"
#include "platform/platform.h"
#include "platform/web/internal.h"

#include <cstdarg>
#include <cstdio>
#include <emscripten.h>

extern "C" void pelmiraHalt();

// clang-format off
EM_JS(void, tellPageEnded, (int status), {
    // After the stack has unwound into the halt.
    setTimeout(function() { if (Module['onExit']) Module['onExit'](status); }, 0);
});

EM_JS(void, sayOnConsole, (const char *line), {
    console.warn(UTF8ToString(line));
});

EM_JS(double, pageNow, (), {
    return performance.now();
});

// The first reading after the display opened is the show's start tick: the
// page's status object keeps it for the tests, which set the clock from it.
EM_JS(void, noteTick, (uint32_t tick), {
    var status = Module['status'];
    if (status && status.contextAt !== undefined && status.startTick === undefined)
        status.startTick = tick >>> 0;
});
// clang-format on

void platformStart(const char *programName) {
    setProgramName(programName);
}

int platformEndSignal() {
    return 0;
}

void platformSay(const char *format, ...) {
    char line[1100];
    va_list arguments;
    va_start(arguments, format);
    formatSayLine(line, sizeof line, format, arguments);
    va_end(arguments);
    sayOnConsole(line);
}

uint32_t platformTicks() {
    markTick();
    // Whole milliseconds since the page's time origin, wrapping as a 32-bit
    // counter does.
    uint32_t tick = static_cast<uint32_t>(static_cast<uint64_t>(pageNow()));
    noteTick(tick);
    return tick;
}

void platformExit(int status) {
    audioClose();
    videoClose();
    timingReport(programName());
    tellPageEnded(status);
    pelmiraHalt();
    __builtin_unreachable();
}
