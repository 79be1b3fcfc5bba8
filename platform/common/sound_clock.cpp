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
