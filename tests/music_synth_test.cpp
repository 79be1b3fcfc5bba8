// The soundtrack against the figures known of it, and its echo against the
// closed form of two taps over the dry voice.
#include "music/synth.h"
#include "music/wave_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

static std::vector<float> dry(SAMPLE_COUNT), mix; // the voice sample by sample; renderMusic's mix

static void render() {
    double phase = 0.0;
    for (int n = 0; n < SAMPLE_COUNT; ++n) {
        const double envelope = double(8191 - n % STEP_LENGTH) / 8191.0;
        dry[n] = float((sawValue(phase) + sawValue(phase * double(0.998f))) * envelope);
        phase = phase + double(NOTE_STEP[NOTE_PATTERN[n / STEP_LENGTH % 32]]);
    }
    renderMusic(waveImage.samples);
    mix.assign(MixBuffer, MixBuffer + SAMPLE_COUNT);
}

TEST(Soundtrack, HasTheKnownSamplesPeaksAndSaturation) {
    render();
    const int16_t *s = waveImage.samples, *end = s + SAMPLE_COUNT;
    const int listed[][2] = {
        {0, 0},      {1, -138},     {2, -275},      {3, -412},       {4, -550},
        {5, -687},   {6, -825},     {7, -962},      {8, -1099},      {9, -1236},
        {10, -1374}, {11, -1511},   {12, -1648},    {13, -1785},     {14, -1922},
        {15, -2059}, {4096, 13224}, {8192, -12919}, {262144, 10793}, {SAMPLE_COUNT - 1, 219}};
    for (const auto &sample : listed)
        EXPECT_EQ(s[sample[0]], sample[1]) << "sample " << sample[0];

    const auto high = std::max_element(mix.begin(), mix.end());
    EXPECT_NEAR(*high, 1.1374, 5e-5);
    EXPECT_EQ(high - mix.begin(), 917742);
    EXPECT_NEAR(*std::min_element(mix.begin(), mix.end()), -1.0744, 5e-5);
    const auto dryPeaks = std::minmax_element(dry.begin(), dry.end());
    EXPECT_NEAR(std::max(*dryPeaks.second, -*dryPeaks.first), 0.9792, 5e-5);
    // Clipped, not wrapped: a wrap would turn these into small or opposite values.
    EXPECT_EQ(std::count(s, end, int16_t(32767)), 88);
    EXPECT_EQ(std::find(s, end, int16_t(32767)) - s, 139297);
    EXPECT_EQ(std::count(s, end, int16_t(-32768)), 64);
    EXPECT_EQ(std::find(s, end, int16_t(-32768)) - s, 8257);
}

TEST(Soundtrack, EchoIsTwoTapsInOrderWithoutFeedback) {
    render();
    for (int n = 0; n <= 4096; ++n)
        ASSERT_EQ(mix[n], dry[n]) << "sample " << n;
    // A recirculating echo would add 0.04 x[i - 8192], 0.04 x[i - 12288] and more.
    auto x = [](int i) { return i < 0 ? 0.0 : double(dry[i]); };
    double worst = 0;
    for (int i = 0; i < SAMPLE_COUNT; ++i)
        worst = std::max(worst, std::fabs(mix[i] - (x(i) + 0.2 * x(i - 4096) + 0.2 * x(i - 6144) +
                                                    0.04 * x(i - 10240))));
    EXPECT_LT(worst, 1e-6);
    // Rounding tells the two orders apart; the stated one gives the mix bit for bit.
    std::copy(dry.begin(), dry.end(), MixBuffer);
    addEcho(4096);
    addEcho(6144);
    EXPECT_TRUE(std::equal(mix.begin(), mix.end(), MixBuffer));
}
