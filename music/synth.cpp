#include "music/synth.h"

#include <algorithm>
#include <cmath>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the sample area holds little-endian samples in native order");

// Decodes the bit pattern of a normal IEEE-754 single at compile time, so the
// pitch table below is written down by its exact bits.
static constexpr float floatFromBits(uint32_t bits) {
    double value = double((bits & 0x7FFFFFu) | 0x800000u);
    for (int exponent = int((bits >> 23) & 0xFFu) - 150; exponent != 0;) {
        if (exponent < 0) {
            value *= 0.5;
            ++exponent;
        } else {
            value *= 2.0;
            --exponent;
        }
    }
    return float((bits >> 31) ? -value : value);
}

const unsigned char NOTE_PATTERN[32] = {5, 17, 5, 17, 5, 17, 5, 17, 10, 22, 10, 22, 8, 20, 8, 20,
                                        5, 17, 5, 17, 5, 17, 5, 17, 3,  15, 3,  15, 1, 13, 1, 13};

constexpr float NOTE_STEP[24] = {
    floatFromBits(0x3ACE495A), floatFromBits(0x3ADA8D8E), floatFromBits(0x3AE78C7F),
    floatFromBits(0x3AF55142), floatFromBits(0x3B01F3CE), floatFromBits(0x3B09AE04),
    floatFromBits(0x3B11DDDA), floatFromBits(0x3B1A8A50), floatFromBits(0x3B23BAD0),
    floatFromBits(0x3B2D7732), floatFromBits(0x3B37C7C8), floatFromBits(0x3B42B565),
    floatFromBits(0x3B4E495A), floatFromBits(0x3B5A8D91), floatFromBits(0x3B678C7C),
    floatFromBits(0x3B755142), floatFromBits(0x3B81F3D0), floatFromBits(0x3B89AE03),
    floatFromBits(0x3B91DDDA), floatFromBits(0x3B9A8A51), floatFromBits(0x3BA3BACE),
    floatFromBits(0x3BAD7732), floatFromBits(0x3BB7C7CA), floatFromBits(0x3BC2B563),
};

float MixBuffer[SAMPLE_COUNT];

static constexpr int PATTERN_LENGTH = 32;
static constexpr int ENVELOPE_TOP = 8191;
static constexpr float DETUNE = 0.998f;
static constexpr float ECHO_GAIN = 0.2f;
static constexpr double OUTPUT_SCALE = 32767;

// For |x| < 2^51, x + 1.5 * 2^52 lies between 2^52 and 2^53, where doubles
// are exactly one apart: the addition rounds x to the nearest integer, ties to
// even (the default rounding mode), and taking the bias away again is exact.
// Two inlinable additions instead of a call into libm.
static constexpr double ROUNDING_BIAS = 6755399441055744.0;
static constexpr double ROUNDING_BIAS_LIMIT = 2251799813685248.0; // 2^51

static inline double roundSmall(double x) {
    return (x + ROUNDING_BIAS) - ROUNDING_BIAS;
}

static inline double sawValueSmall(double x) {
    return roundSmall(x) - x;
}

double sawValue(double x) {
    if (std::fabs(x) < ROUNDING_BIAS_LIMIT) {
        return sawValueSmall(x);
    }
    return std::nearbyint(x) - x;
}

// The phase is a running double sum of single-precision increments. Every
// increment is a whole multiple of 2^-33 and the whole piece never takes the
// sum past 2^20, so every partial sum is a multiple of 2^-33 below 2^20 and
// therefore exact in a double's 53 bits. Exact sums do not depend on their
// order: the phase k samples into a step is start + k * increment bit for bit,
// which frees the voice loop from the serial chain of additions.
static constexpr double PHASE_QUANTUM = 1.0 / 8589934592.0; // 2^-33
static constexpr double PHASE_LIMIT = 1048576.0;            // 2^20

static constexpr bool phaseSumsAreExact() {
    float largest = 0;
    for (float step : NOTE_STEP) {
        const double units = step / PHASE_QUANTUM;
        if (units != double(static_cast<long long>(units))) {
            return false;
        }
        largest = step > largest ? step : largest;
    }
    return double(largest) * SAMPLE_COUNT < PHASE_LIMIT;
}
static_assert(phaseSumsAreExact(), "phase sums must stay exact for the closed-form phase");

// Both oscillators read the one phase, the second scaled 0.2 % flat; the
// envelope falls from 8191/8191 on the first sample of a step to 0/8191.
static void renderVoice() {
    double phase = 0.0;
    int step = 0;
    for (int start = 0; start < SAMPLE_COUNT; start += STEP_LENGTH) {
        const double increment = NOTE_STEP[NOTE_PATTERN[step]];
        const int length = SAMPLE_COUNT - start < STEP_LENGTH ? SAMPLE_COUNT - start : STEP_LENGTH;
        float *out = MixBuffer + start;
        for (int k = 0; k < length; ++k) {
            const double p = phase + k * increment;
            const double level = double(ENVELOPE_TOP - k) / ENVELOPE_TOP;
            out[k] = float((sawValueSmall(p) + sawValueSmall(p * DETUNE)) * level);
        }
        phase += length * increment;
        step = (step + 1) % PATTERN_LENGTH;
    }
}

// Adds the echo to a block whose sources lie wholly below it, so none of them
// has been written in this pass; the two ranges never overlap.
static void echoBlock(float *__restrict target, const float *__restrict source, int count) {
    for (int k = 0; k < count; ++k) {
        target[k] = float(double(target[k]) + double(ECHO_GAIN) * source[k]);
    }
}

static constexpr int ECHO_BLOCK = 1024;

void addEcho(int delay) {
    if (delay < 0) {
        return; // the source would lie past the end of the buffer
    }
    // Walking from the end toward the start, the source i - delay is always
    // read before this pass writes it: the pass adds one copy of its input
    // and never feeds back. Whole blocks taken from the end keep that as long
    // as the delay spans a block; within a block the order is then free.
    int end = SAMPLE_COUNT;
    if (delay >= ECHO_BLOCK) {
        for (; end - ECHO_BLOCK >= delay; end -= ECHO_BLOCK) {
            echoBlock(MixBuffer + end - ECHO_BLOCK, MixBuffer + end - ECHO_BLOCK - delay,
                      ECHO_BLOCK);
        }
    }
    for (int i = end - 1; i >= delay; --i) {
        MixBuffer[i] = float(double(MixBuffer[i]) + double(ECHO_GAIN) * MixBuffer[i - delay]);
    }
}

// Every mixed value lies within 1 + 0.2 + 0.2 + 0.04 of zero (the dry voice
// never exceeds 1), well inside roundSmall's range and an int's.
static void convertToSamples(int16_t *sampleArea) {
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        const int v = int(roundSmall(double(MixBuffer[n]) * OUTPUT_SCALE));
        sampleArea[n] = int16_t(std::max(std::min(v, 32767), -32768));
    }
}

void renderMusic(int16_t *sampleArea) {
    renderVoice();
    addEcho(4096);
    addEcho(6144);
    convertToSamples(sampleArea);
}
