// The sound player, through SDL's disk audio driver, which writes what the
// device receives to a file.
#include "driver/platform.h"
#include "driver/platform_internal.h"

#include <SDL.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void put16(std::vector<unsigned char> &v, unsigned x) {
    v.push_back(x & 0xFF);
    v.push_back(x >> 8 & 0xFF);
}

void put32(std::vector<unsigned char> &v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

std::vector<unsigned char> waveImage(unsigned tag, unsigned channels, unsigned bits,
                                     const std::vector<unsigned char> &data) {
    std::vector<unsigned char> v;
    unsigned block = channels * bits / 8;
    v.insert(v.end(), {'R', 'I', 'F', 'F'});
    put32(v, 36 + (uint32_t)data.size());
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(v, 16);
    put16(v, tag);
    put16(v, channels);
    put32(v, 44100);
    put32(v, 44100 * block);
    put16(v, block);
    put16(v, bits);
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    put32(v, (uint32_t)data.size());
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

class Sound : public ::testing::Test {
  protected:
    std::string dir, output;

    void SetUp() override {
        char pattern[] = "/tmp/pelmira-sound-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        output = dir + "/device.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1); // far faster than real time
    }

    void TearDown() override {
        platformStopSound();
        SDL_Quit();
        std::remove(output.c_str());
        rmdir(dir.c_str());
    }

    std::vector<unsigned char> received() {
        std::ifstream in(output, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }

    // Lets the device run until it has taken at least bytes, then stops it.
    // Lets the device run until it has taken at least bytes past the silence
    // SDL feeds it before playback is unpaused, stops it, and returns what it
    // took from the first byte that is not silence.
    std::vector<unsigned char> playUntil(size_t bytes, unsigned char silence) {
        std::vector<unsigned char> got;
        size_t lead = 0;
        for (int i = 0; i < 2000; ++i) {
            got = received();
            lead = std::find_if(got.begin(), got.end(),
                                [&](unsigned char b) { return b != silence; }) -
                   got.begin();
            if (lead < got.size() && got.size() - lead >= bytes)
                break;
            SDL_Delay(5);
        }
        platformStopSound();
        got = received();
        EXPECT_LE(lead, 16u * 4096) << "the sound started late";
        return std::vector<unsigned char>(got.begin() + (std::ptrdiff_t)std::min(lead, got.size()),
                                          got.end());
    }
};

TEST_F(Sound, DeviceGetsTheImagesSamplesOnceThenSilence) {
    std::vector<unsigned char> samples;
    for (int i = 0; i < 30000; ++i)
        put16(samples, (unsigned)((i + 1) * 2654435761u >> 16) | 1);
    std::vector<unsigned char> image = waveImage(1, 1, 16, samples);
    platformPlaySound(image.data());
    std::vector<unsigned char> got = playUntil(samples.size() + 20000, 0);
    ASSERT_GE(got.size(), samples.size() + 20000);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), got.begin()));
    for (size_t i = samples.size(); i < got.size(); ++i)
        ASSERT_EQ(got[i], 0) << "byte " << i << " after the end";
}

TEST_F(Sound, RefusesWhatIsNotIntegerPcm) {
    std::vector<unsigned char> samples(4000, 0x55);
    std::vector<std::vector<unsigned char>> bad = {
        waveImage(3, 1, 32, samples), // float
        waveImage(1, 1, 24, samples), waveImage(1, 0, 16, samples),
        std::vector<unsigned char>(64, 0), // not RIFF at all
    };
    for (const auto &image : bad) {
        testing::internal::CaptureStderr();
        platformPlaySound(image.data());
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("playing without sound"), std::string::npos) << said;
    }
    SDL_Delay(50);
    EXPECT_EQ(received().size(), 0u);
}

TEST_F(Sound, NoDeviceIsOneLineAndNoHarm) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    std::vector<unsigned char> image = waveImage(1, 1, 16, std::vector<unsigned char>(100, 1));
    testing::internal::CaptureStderr();
    platformPlaySound(image.data());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("pelmira: no audio device: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
}

} // namespace
