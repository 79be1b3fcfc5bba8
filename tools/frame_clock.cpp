#include "tools/frame_clock.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

bool parseFrameRate(const char *text, FrameRate *rate) {
    if (!text || !*text)
        return false;
    const char *slash = std::strchr(text, '/');
    char *end = nullptr;
    errno = 0;
    if (slash) {
        long num = std::strtol(text, &end, 10);
        if (end != slash || errno)
            return false;
        long den = std::strtol(slash + 1, &end, 10);
        if (*end || errno || end == slash + 1 || num <= 0 || den <= 0 || num > 1000000 ||
            den > 1000000)
            return false;
        *rate = {num, den};
        return true;
    }
    long whole = std::strtol(text, &end, 10);
    if (*end == '\0' && !errno) {
        if (whole <= 0 || whole > 1000)
            return false;
        *rate = {whole, 1};
        return true;
    }
    errno = 0;
    double value = std::strtod(text, &end);
    if (*end || errno || !(value > 0.0) || value > 1000.0)
        return false;
    // Decimal rates are taken to a thousandth of a frame per second.
    long num = std::lround(value * 1000.0);
    if (num <= 0)
        return false;
    *rate = {num, 1000};
    return true;
}

uint32_t frameTick(long frame, FrameRate rate) {
    // round(k * 1000 * den / num), halves up, in integers so no rate drifts.
    long long twice = 2LL * frame * 1000 * rate.den + rate.num;
    return (uint32_t)(twice / (2LL * rate.num));
}

long frameAtOrAfter(double seconds, FrameRate rate) {
    double ms = seconds * 1000.0;
    long k = (long)std::floor(seconds * (double)rate.num / (double)rate.den);
    if (k > 0)
        --k;
    while (frameTick(k, rate) < ms)
        ++k;
    return k;
}

long frameShownAt(double seconds, FrameRate rate) {
    long k = frameAtOrAfter(seconds, rate);
    if (k > 0 && frameTick(k, rate) > seconds * 1000.0)
        --k;
    return k;
}
