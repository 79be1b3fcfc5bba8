// The synthesizer against a plain sample-by-sample transcription of the
// algorithm (serial phase sum, libm rounding, the echo walked backwards) and
// against the figures known of the finished soundtrack.
#include "music/synth.h"
#include "music/wave_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const uint32_t STEP_BITS[24] = {
    0x3ACE495A, 0x3ADA8D8E, 0x3AE78C7F, 0x3AF55142, 0x3B01F3CE, 0x3B09AE04, 0x3B11DDDA, 0x3B1A8A50,
    0x3B23BAD0, 0x3B2D7732, 0x3B37C7C8, 0x3B42B565, 0x3B4E495A, 0x3B5A8D91, 0x3B678C7C, 0x3B755142,
    0x3B81F3D0, 0x3B89AE03, 0x3B91DDDA, 0x3B9A8A51, 0x3BA3BACE, 0x3BAD7732, 0x3BB7C7CA, 0x3BC2B563,
};
const unsigned char PATTERN[32] = {5, 17, 5, 17, 5, 17, 5, 17, 10, 22, 10, 22, 8, 20, 8, 20,
                                   5, 17, 5, 17, 5, 17, 5, 17, 3,  15, 3,  15, 1, 13, 1, 13};

float stepFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double referenceSaw(double x) {
    return std::nearbyint(x) - x;
}

// One sample at a time, exactly as the algorithm reads.
void referenceVoice(float *out) {
    double phase = 0.0;
    int position = 0, step = 0;
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        const int note = PATTERN[step];
        const int envelope = 8191 - position;
        const double s = (referenceSaw(phase) + referenceSaw(phase * double(0.998f))) *
                         (double(envelope) / 8191.0);
        out[n] = float(s);
        phase = phase + double(stepFromBits(STEP_BITS[note]));
        position = (position + 1) & 0x1FFF;
        if (position == 0) {
            step = (step + 1) & 31;
        }
    }
}

void referenceEcho(float *buffer, int count, int delay) {
    for (int i = count - 1; i >= delay; --i) {
        buffer[i] = float(double(buffer[i]) + double(0.2f) * double(buffer[i - delay]));
    }
}

int16_t referenceSample(float mixed) {
    const double v = std::nearbyint(double(mixed) * 32767.0);
    return int16_t(v > 32767.0 ? 32767.0 : v < -32768.0 ? -32768.0 : v);
}

std::vector<float> dryVoice, referenceMix;
std::vector<int16_t> rendered;
std::vector<float> renderedMix;

class Soundtrack : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dryVoice.assign(SAMPLE_COUNT, 0.0f);
        referenceVoice(dryVoice.data());
        referenceMix = dryVoice;
        referenceEcho(referenceMix.data(), SAMPLE_COUNT, 4096);
        referenceEcho(referenceMix.data(), SAMPLE_COUNT, 6144);
        rendered.assign(SAMPLE_COUNT, 0);
        renderMusic(rendered.data());
        renderedMix.assign(MixBuffer, MixBuffer + SAMPLE_COUNT);
    }
};

TEST(NoteTables, HoldTheStatedBitsAndPattern) {
    for (int i = 0; i < 24; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &NOTE_STEP[i], sizeof bits);
        EXPECT_EQ(bits, STEP_BITS[i]) << "NOTE_STEP[" << i << "]";
    }
    EXPECT_NEAR(NOTE_STEP[0] * 44100.0, 69.406, 0.001);
    EXPECT_NEAR(NOTE_STEP[23] * 44100.0, 262.044, 0.001);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(NOTE_PATTERN[i], PATTERN[i]) << "step " << i;
    }
}

TEST(SawValue, RoundsTiesToEven) {
    EXPECT_EQ(sawValue(0.5), -0.5);  // 0
    EXPECT_EQ(sawValue(1.5), 0.5);   // 2
    EXPECT_EQ(sawValue(2.5), -0.5);  // 2
    EXPECT_EQ(sawValue(3.5), 0.5);   // 4
    EXPECT_EQ(sawValue(-0.5), 0.5);  // -0
    EXPECT_EQ(sawValue(-1.5), -0.5); // -2
    EXPECT_EQ(sawValue(-2.5), 0.5);  // -2
    EXPECT_EQ(sawValue(0.0), 0.0);
    EXPECT_EQ(sawValue(0.25), -0.25);
    EXPECT_EQ(sawValue(0.75), 0.25);
    EXPECT_EQ(sawValue(7.0), 0.0);
    // Around and past 2^51, where halves still exist, and 2^52, where they end.
    const double two51 = 2251799813685248.0;
    EXPECT_EQ(sawValue(two51 - 0.5), 0.5);  // 2^51, even
    EXPECT_EQ(sawValue(two51 + 0.5), -0.5); // 2^51
    EXPECT_EQ(sawValue(two51 + 1.5), 0.5);  // 2^51 + 2
    EXPECT_EQ(sawValue(-two51 - 1.5), -0.5);
    EXPECT_EQ(sawValue(2 * two51 + 1), 0.0);
    EXPECT_EQ(sawValue(1e300), 0.0);
}

TEST(SawValue, AgreesWithLibmOverTheRange) {
    for (double x = -5000.0; x < 5000.0; x += 0.0371) {
        ASSERT_EQ(sawValue(x), referenceSaw(x)) << x;
        const double nudged = std::nextafter(x, 1e9);
        ASSERT_EQ(sawValue(nudged), referenceSaw(nudged)) << nudged;
    }
}

TEST_F(Soundtrack, MatchesTheSampleBySampleReference) {
    int mixDiffs = 0, sampleDiffs = 0;
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        uint32_t a, b;
        std::memcpy(&a, &renderedMix[n], 4);
        std::memcpy(&b, &referenceMix[n], 4);
        mixDiffs += a != b;
        sampleDiffs += rendered[n] != referenceSample(referenceMix[n]);
    }
    EXPECT_EQ(mixDiffs, 0);
    EXPECT_EQ(sampleDiffs, 0);
}

TEST_F(Soundtrack, HasTheKnownSampleValues) {
    const int16_t first[16] = {0,     -138,  -275,  -412,  -550,  -687,  -825,  -962,
                               -1099, -1236, -1374, -1511, -1648, -1785, -1922, -2059};
    for (int n = 0; n < 16; ++n) {
        EXPECT_EQ(rendered[n], first[n]) << "sample " << n;
    }
    EXPECT_EQ(rendered[4096], 13224);
    EXPECT_EQ(rendered[8192], -12919);
    EXPECT_EQ(rendered[262144], 10793);
    EXPECT_EQ(rendered[SAMPLE_COUNT - 1], 219);
}

TEST_F(Soundtrack, IsDryUntilTheFirstTap) {
    for (int n = 0; n <= 4096; ++n) {
        ASSERT_EQ(renderedMix[n], dryVoice[n]) << "sample " << n;
    }
    EXPECT_NE(renderedMix[4097], dryVoice[4097]);
    // Up to 6144 only the first tap is present; the second starts at 6145.
    for (int n = 4097; n <= 6145; ++n) {
        const float firstTapOnly = float(double(dryVoice[n]) + double(0.2f) * dryVoice[n - 4096]);
        if (n <= 6144) {
            ASSERT_EQ(renderedMix[n], firstTapOnly) << "sample " << n;
        } else {
            EXPECT_NE(renderedMix[n], firstTapOnly) << "sample " << n;
        }
    }
}

// Each pass adds one copy of its input: a recirculating echo would add
// 0.04 x[i - 8192], 0.04 x[i - 12288] and further repeats.
TEST_F(Soundtrack, EchoIsTwoTapsWithoutFeedback) {
    double worst = 0;
    for (int i = 0; i < SAMPLE_COUNT; ++i) {
        double expected = dryVoice[i];
        if (i >= 4096) {
            expected += 0.2 * dryVoice[i - 4096];
        }
        if (i >= 6144) {
            expected += 0.2 * dryVoice[i - 6144];
        }
        if (i >= 10240) {
            expected += 0.04 * dryVoice[i - 10240];
        }
        worst = std::max(worst, std::fabs(renderedMix[i] - expected));
    }
    EXPECT_LT(worst, 1e-6);
}

TEST_F(Soundtrack, AppliesTheShorterTapFirst) {
    std::vector<float> swapped = dryVoice;
    referenceEcho(swapped.data(), SAMPLE_COUNT, 6144);
    referenceEcho(swapped.data(), SAMPLE_COUNT, 4096);
    int differFromSwapped = 0;
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        differFromSwapped += swapped[n] != referenceMix[n];
    }
    ASSERT_GT(differFromSwapped, 0) << "the order would not be observable";
    EXPECT_TRUE(std::equal(renderedMix.begin(), renderedMix.end(), referenceMix.begin()));
}

TEST_F(Soundtrack, PeaksAndSaturationAreAsKnown) {
    const auto high = std::max_element(renderedMix.begin(), renderedMix.end());
    const auto low = std::min_element(renderedMix.begin(), renderedMix.end());
    EXPECT_NEAR(*high, 1.1374, 5e-5);
    EXPECT_EQ(high - renderedMix.begin(), 917742);
    EXPECT_NEAR(*low, -1.0744, 5e-5);
    const float dryPeak = *std::max_element(dryVoice.begin(), dryVoice.end(), [](float a, float b) {
        return std::fabs(a) < std::fabs(b);
    });
    EXPECT_NEAR(std::fabs(dryPeak), 0.9792, 5e-5);

    int top = 0, bottom = 0, firstTop = -1, firstBottom = -1;
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        const double scaled = double(renderedMix[n]) * 32767.0;
        if (scaled >= 32767.5) {
            ASSERT_EQ(rendered[n], 32767) << "sample " << n << " must clip, not wrap";
        } else if (scaled <= -32768.5) {
            ASSERT_EQ(rendered[n], -32768) << "sample " << n << " must clip, not wrap";
        }
        if (rendered[n] == 32767) {
            firstTop = firstTop < 0 ? n : firstTop;
            ++top;
        } else if (rendered[n] == -32768) {
            firstBottom = firstBottom < 0 ? n : firstBottom;
            ++bottom;
        }
    }
    EXPECT_EQ(top, 88);
    EXPECT_EQ(firstTop, 139297);
    EXPECT_EQ(bottom, 64);
    EXPECT_EQ(firstBottom, 8257);
}

TEST_F(Soundtrack, RendersTheSameAgainAndLeavesTheHeaderAlone) {
    unsigned char header[WAVE_HEADER_SIZE];
    std::memcpy(header, waveImage.header, sizeof header);
    renderMusic(waveImage.samples);
    EXPECT_EQ(std::memcmp(header, waveImage.header, sizeof header), 0);
    EXPECT_EQ(std::memcmp(waveImage.samples, rendered.data(), 2 * size_t(SAMPLE_COUNT)), 0);
}

// Fills MixBuffer with a repeatable signal that is not all zero anywhere.
void fillNoise() {
    uint32_t state = 12345;
    for (float &v : MixBuffer) {
        state = state * 1664525u + 1013904223u;
        v = float(int32_t(state) >> 8) / 8388608.0f;
    }
}

TEST(AddEcho, AddsOneCopyPerPass) {
    std::fill(MixBuffer, MixBuffer + SAMPLE_COUNT, 0.0f);
    MixBuffer[0] = 1.0f;
    MixBuffer[SAMPLE_COUNT - 5000] = -1.0f;
    addEcho(4096);
    EXPECT_EQ(MixBuffer[4096], 0.2f);
    EXPECT_EQ(MixBuffer[SAMPLE_COUNT - 904], -0.2f);
    int nonZero = 0;
    for (float v : MixBuffer) {
        nonZero += v != 0.0f;
    }
    EXPECT_EQ(nonZero, 4) << "an echo of the echo was added";
}

TEST(AddEcho, MatchesTheBackwardWalkForAnyDelay) {
    static float expected[SAMPLE_COUNT];
    for (int delay : {0, 1, 3, 1023, 1024, 1025, 4096, 6144, SAMPLE_COUNT - 1, SAMPLE_COUNT}) {
        fillNoise();
        std::copy(MixBuffer, MixBuffer + SAMPLE_COUNT, expected);
        referenceEcho(expected, SAMPLE_COUNT, delay);
        addEcho(delay);
        ASSERT_TRUE(std::equal(expected, expected + SAMPLE_COUNT, MixBuffer)) << "delay " << delay;
    }
    fillNoise();
    std::copy(MixBuffer, MixBuffer + SAMPLE_COUNT, expected);
    addEcho(-7);
    EXPECT_TRUE(std::equal(expected, expected + SAMPLE_COUNT, MixBuffer)) << "negative delay";
}

TEST(WaveImage, HeaderHoldsTheStandardFields) {
    unsigned char expected[WAVE_HEADER_SIZE] = {};
    auto put = [&](int offset, uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            expected[offset + i] = (unsigned char)(value >> (8 * i));
        }
    };
    std::memcpy(expected, "RIFF", 4);
    put(4, 2621156, 4);
    std::memcpy(expected + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, 1, 2);
    put(24, 44100, 4);
    put(28, 88200, 4);
    put(32, 2, 2);
    put(34, 16, 2);
    std::memcpy(expected + 36, "data", 4);
    put(40, 2621120, 4);
    for (int i = 0; i < WAVE_HEADER_SIZE; ++i) {
        EXPECT_EQ(waveImage.header[i], expected[i]) << "byte " << i;
    }
}

} // namespace
