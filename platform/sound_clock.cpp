#include "platform/sound_clock.h"

SoundClock soundClockStart(double audibleAt, int rate, double usualLead) {
    SoundClock clock = {};
    clock.audibleAt = audibleAt;
    clock.rate = rate;
    clock.usualLead = usualLead;
    return clock;
}

uint32_t soundCatchUp(SoundClock &clock, uint32_t position, uint32_t length, double now) {
    double lead = clock.audibleAt + (double)position / clock.rate - now;
    double lag;
    if (lead < -SOUND_LAG_ALLOWED) {
        // Asked after its frames were due: the device is empty and plays what
        // it gets at once.
        lag = -lead;
    } else {
        clock.recentLead[clock.recent++ % SOUND_LAGGING_REQUESTS] = lead;
        if (clock.recent < SOUND_LAGGING_REQUESTS)
            return position;
        double best = clock.recentLead[0];
        for (double recent : clock.recentLead)
            best = recent > best ? recent : best;
        lag = clock.usualLead - best;
        if (lag <= SOUND_LAG_ALLOWED)
            return position;
    }
    // The requests after a skip show the device's lead afresh.
    clock.recent = 0;
    double next = position + lag * clock.rate + 0.5;
    return next >= length ? length : (uint32_t)next;
}
