#include "tools/frame_clock.h"

#include "tools/decimal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

// A whole number of at most seven digits.
static bool parseWhole(const std::string &text, long *value) {
    if (text.size() > 7 || !isDecimal(text.c_str(), false))
        return false;
    *value = std::stol(text);
    return true;
}

bool parseFrameRate(const char *text, FrameRate *rate) {
    if (!text)
        return false;
    const char *slash = std::strchr(text, '/');
    long num = 0, den = 1;
    if (slash ? parseWhole(std::string(text, slash), &num) && parseWhole(slash + 1, &den)
              : parseWhole(text, &num)) {
        // One limit for every form: above it two frames would share a
        // millisecond of the show's clock.
        if (num <= 0 || den <= 0 || num > MAX_FRAME_RATE * den)
            return false;
        *rate = {num, den};
        return true;
    }
    if (slash || !isDecimal(text, true))
        return false;
    double value = std::strtod(text, nullptr);
    if (!(value > 0.0) || value > MAX_FRAME_RATE)
        return false;
    // Decimal rates are taken to a thousandth of a frame per second.
    long thousandths = std::lround(value * 1000.0);
    if (thousandths <= 0)
        return false;
    *rate = {thousandths, 1000};
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
