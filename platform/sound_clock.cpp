#include "platform/sound_clock.h"

uint32_t soundCatchUp(uint32_t position, uint32_t length, double now, double audibleAt, int rate) {
    double due = (now - audibleAt) * rate;
    if (due - position <= SOUND_LAG_ALLOWED * rate)
        return position;
    return due >= length ? length : (uint32_t)(due + 0.5);
}
