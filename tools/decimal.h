// Numbers from the command line and the environment are plain decimals:
// strtod and strtol would also take a sign, leading spaces, hexadecimal, an
// exponent, "inf" and "nan", none of which a user means by a rate or a time.
#pragma once

// True if text is one or more digits with, if fraction, at most one '.'
// among or after them.
inline bool isDecimal(const char *text, bool fraction) {
    int digits = 0, dots = 0;
    for (const char *p = text; *p; ++p) {
        if (*p >= '0' && *p <= '9')
            ++digits;
        else if (*p == '.' && fraction && dots == 0)
            ++dots;
        else
            return false;
    }
    return digits > 0;
}
