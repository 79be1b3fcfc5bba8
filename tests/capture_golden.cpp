// Renders the show with the real capture tool and holds chosen frames to the
// committed references.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <png.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture readPicture(const std::string &path) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << path << ": " << image.message;
        return p;
    }
    image.format = PNG_FORMAT_RGB;
    p.width = image.width;
    p.height = image.height;
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << image.message;
        p.width = p.height = 0;
    }
    return p;
}

// A frame matches its reference when its colours are off by less than 2 on
// average and fewer than 0.5 % of its pixels are off by more than 48 in a
// channel: room for rasteriser rounding, none for another scene, camera,
// texture or render state.
struct Difference {
    double mean;
    double farShare;
    bool matches() const { return mean < 2.0 && farShare < 0.005; }
};

Difference compare(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty())
        return {255.0, 1.0};
    long total = 0, far = 0;
    for (size_t i = 0; i < a.rgb.size(); i += 3) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            int d = std::abs(a.rgb[i + c] - b.rgb[i + c]);
            total += d;
            worst = std::max(worst, d);
        }
        far += worst > 48;
    }
    double pixels = (double)a.width * a.height;
    return {total / (pixels * 3), far / pixels};
}

int run(const std::string &command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class GoldenFrames : public ::testing::Test {
  protected:
    static std::string folder;
    static void SetUpTestSuite() {
        char name[] = "/tmp/pelmira-golden-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        ASSERT_EQ(run(std::string(CAPTURE_TOOL) + " --fps 10 " + folder + "/%03d.png"), 0);
    }
    static void TearDownTestSuite() { run("rm -rf " + folder); }
    static Picture rendered(int frame) {
        char name[16];
        std::snprintf(name, sizeof name, "/%03d.png", frame);
        return readPicture(folder + name);
    }
    static Picture reference(int frame) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-10fps-%03d.png", frame);
        return readPicture(std::string(GOLDEN_DIR) + name);
    }
};
std::string GoldenFrames::folder;

TEST_F(GoldenFrames, EachSceneAndBoundaryMatchItsReferenceAndNoNeighbourDoes) {
    std::ifstream list(std::string(GOLDEN_DIR) + "/frames.txt");
    std::string line;
    int checked = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        int frame = std::stoi(line);
        Picture got = rendered(frame);
        ASSERT_EQ(got.width, 800);
        ASSERT_EQ(got.height, 600);
        Difference d = compare(got, reference(frame));
        EXPECT_TRUE(d.matches()) << line << ": mean " << d.mean << ", far " << d.farShare * 100
                                 << " %";
        ++checked;
    }
    EXPECT_GE(checked, 10);

    // A tenth of a second of camera motion must fail, or a wrong camera
    // would pass too. (One test: each test runs in a process of its own and
    // would render the show again.)
    for (auto [frame, ref] : {std::pair{26, 25}, {76, 75}, {171, 170}, {251, 250}}) {
        Difference d = compare(rendered(frame), reference(ref));
        EXPECT_FALSE(d.matches()) << "frame " << frame << " passes as " << ref << ": mean "
                                  << d.mean << ", far " << d.farShare * 100 << " %";
    }
}

} // namespace
