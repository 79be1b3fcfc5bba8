// Colours in each of the encoders' forms, on a padded canvas, through ffmpeg
// and back. Every frame of the show is grey, where swapped or misplaced
// chroma planes, a wrong matrix or a wrong range tag would not show: these
// use coloured pictures.
#include "tools/child_process.h"
#include "tools/encoder.h"
#include "tools/yuv.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const unsigned char COLOURS[][3] = {{255, 0, 0},     {0, 255, 0},    {0, 0, 255},
                                    {255, 255, 0},   {20, 40, 230},  {200, 120, 40},
                                    {128, 128, 128}, {255, 255, 255}};

// A 96x72 picture of 8x8 blocks, one colour each in turn, centred on a
// 128x72 canvas; 8x8 blocks keep 4:2:0 chroma and H.264's transform blocks
// uniform, so lossy coding only blurs their edges.
FrameFormat canvas() {
    FrameFormat format;
    format.width = 96, format.height = 72, format.canvasWidth = 128, format.canvasHeight = 72;
    return format;
}
const unsigned char *colour(int x, int y) {
    return COLOURS[(y / 8 * 7 + x / 8) % 8];
}

// The first frame of a video as ffmpeg turns it into RGB for a player: by
// the range and matrix the video is tagged with.
std::vector<unsigned char> decodeFirstFrame(const std::string &path, size_t bytes) {
    std::string command =
        "ffmpeg -v error -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -";
    std::vector<unsigned char> rgb(bytes);
    std::FILE *pipe = popen(command.c_str(), "r");
    size_t got = pipe ? std::fread(rgb.data(), 1, bytes, pipe) : 0;
    if (pipe)
        pclose(pipe);
    rgb.resize(got);
    return rgb;
}

TEST(EncoderColours, ComeBackFromEveryFormAsFed) {
    char folder[] = "/tmp/pelmira-colours-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string sound = std::string(folder) + "/sound.wav";
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i anullsrc=r=44100:cl=mono -t 0.2 '" + sound + "'")
                        .c_str()),
        0);
    const FrameFormat f = canvas();
    const int cw = f.canvasWidth, ch = f.canvasHeight;
    // Alpha holds noise, which no output may show.
    std::vector<unsigned char> rgba;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            rgba.insert(rgba.end(), {colour(x, y)[0], colour(x, y)[1], colour(x, y)[2],
                                     (unsigned char)(x * 31 + y)});
    struct Case {
        const char *name;
        bool lossless;
        int allowed; // levels off in the block middles and the bars
    } cases[] = {{"lossy.mp4", false, 6},
                 {"lossy.webm", false, 6},
                 {"lossless.mp4", true, 1},
                 {"lossless.mkv", true, 0}};
    for (const Case &c : cases) {
        const std::string path = std::string(folder) + "/" + c.name;
        // Two frames at 10 fps, with 0.2 s of the soundtrack from its start.
        EncoderJob job = {path, path + ".part", sound, {10, 1}, 0.0, 0.2, 0, 0, {}};
        job.width = cw;
        job.height = ch;
        job.quality.lossless = c.lossless;
        const FramePipe pipe = encoderPipe(path, job.quality);
        std::vector<unsigned char> frame(pipeFrameBytes(pipe, cw, ch), 0);
        if (pipe == PIPE_YUV420)
            blackYuv420(f, frame.data());
        else if (pipe == PIPE_YUV444)
            blackYuv444(f, frame.data());
        (pipe == PIPE_YUV420   ? toYuv420
         : pipe == PIPE_YUV444 ? toYuv444
                               : toBgr0)(rgba.data(), f, frame.data());
        ChildProcess encoder;
        ASSERT_TRUE(encoder.start(encoderArguments(job), true, false)) << c.name;
        for (int k = 0; k < 2; ++k)
            ASSERT_TRUE(encoder.write(frame.data(), frame.size())) << c.name;
        ASSERT_TRUE(encoder.wait()) << c.name;

        std::vector<unsigned char> rgb = decodeFirstFrame(job.temp, (size_t)cw * ch * 3);
        ASSERT_EQ(rgb.size(), (size_t)cw * ch * 3) << c.name;
        int worst = 0;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int px = x - f.left(), py = y - f.top(), bx = (px + 64) % 8,
                          by = (py + 64) % 8;
                if (!c.lossless && (bx < 2 || bx > 5 || by < 2 || by > 5))
                    continue;
                // Black in the bars.
                const bool bar = px < 0 || py < 0 || px >= f.width || py >= f.height;
                for (int i = 0; i < 3; ++i)
                    worst = std::max(
                        worst, std::abs(rgb[(y * cw + x) * 3 + i] - (bar ? 0 : colour(px, py)[i])));
            }
        EXPECT_LE(worst, c.allowed) << c.name;
    }
    std::system(("rm -rf " + std::string(folder)).c_str());
}

} // namespace
