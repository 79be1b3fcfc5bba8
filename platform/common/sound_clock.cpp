#include "platform/common/sound_clock.h"

SoundClock soundClockStart(int rate, double held) {
    SoundClock clock = {};
    clock.rate = rate;
    clock.held = held;
    return clock;
}

uint32_t soundCatchUp(SoundClock &clock, uint32_t position, uint32_t asked, uint32_t length,
                      double now) {
    double dry = 0.0;
    if (clock.lastRequest > 0.0)
        dry = now - clock.lastRequest - (double)clock.lastAsked / clock.rate - clock.held;
    clock.lastRequest = now;
    clock.lastAsked = asked;
    if (dry <= SOUND_LAG_ALLOWED)
        return position;
    double next = position + dry * clock.rate + 0.5;
    return next >= length ? length : (uint32_t)next;
}

SoundLagWatch soundLagStart(double start) {
    SoundLagWatch watch = {};
    watch.start = start;
    return watch;
}

double soundLagNote(SoundLagWatch &watch, double now, double firstHeard) {
    if (now < watch.quietUntil)
        return 0.0;
    if (watch.windowStart == 0.0 || firstHeard < watch.earliest)
        watch.earliest = firstHeard;
    if (watch.windowStart == 0.0)
        watch.windowStart = now;
    if (now - watch.windowStart < SOUND_LAG_WINDOW)
        return 0.0;
    double lag = watch.earliest - watch.start;
    watch.windowStart = 0.0;
    if (lag <= SOUND_LAG_ALLOWED)
        return 0.0;
    watch.quietUntil = now + SOUND_LAG_SETTLE;
    return lag;
}
