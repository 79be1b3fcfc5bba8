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

// A capture's PNG frames in a folder of their own, and the references.
class Frames {
  public:
    explicit Frames(const std::string &options) : options_(options) {}
    void render() {
        char name[] = "/tmp/pelmira-golden-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
        ASSERT_EQ(run(std::string(CAPTURE_TOOL) + " " + options_ + " " + folder_ + "/%03d.png"), 0);
    }
    void remove() { run("rm -rf " + folder_); }
    Picture rendered(int frame) const { return readPicture(folder_ + numbered("/", frame)); }
    static Picture reference(const std::string &prefix, int frame) {
        return readPicture(std::string(GOLDEN_DIR) + numbered("/" + prefix, frame));
    }

  private:
    static std::string numbered(const std::string &prefix, int frame) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d.png", frame);
        return prefix + number;
    }
    std::string options_, folder_;
};

// The frames a list in the golden folder names: number, then what it shows.
std::vector<int> listed(const char *list) {
    std::ifstream file(std::string(GOLDEN_DIR) + "/" + list);
    std::vector<int> frames;
    std::string line;
    while (std::getline(file, line))
        if (!line.empty() && line[0] != '#')
            frames.push_back(std::stoi(line));
    return frames;
}

// Each listed frame matches its reference; a frame one step of the capture's
// clock away from it must not, or a wrong camera would pass too.
void checkFrames(const Frames &frames, const char *list, const std::string &prefix, int width,
                 int height, std::initializer_list<std::pair<int, int>> neighbours) {
    const std::vector<int> numbers = listed(list);
    for (int frame : numbers) {
        Picture got = frames.rendered(frame);
        ASSERT_EQ(got.width, width);
        ASSERT_EQ(got.height, height);
        Difference d = compare(got, Frames::reference(prefix, frame));
        EXPECT_TRUE(d.matches()) << list << " " << frame << ": mean " << d.mean << ", far "
                                 << d.farShare * 100 << " %";
    }
    EXPECT_GE(numbers.size(), 4u);
    for (auto [frame, ref] : neighbours) {
        Difference d = compare(frames.rendered(frame), Frames::reference(prefix, ref));
        EXPECT_FALSE(d.matches()) << "frame " << frame << " passes as " << ref << ": mean "
                                  << d.mean << ", far " << d.farShare * 100 << " %";
    }
}

// Each test runs in a process of its own and renders the show once.
TEST(GoldenFrames, EachSceneAndBoundaryMatchItsReferenceAndNoNeighbourDoes) {
    Frames frames("--fps 10");
    frames.render();
    checkFrames(frames, "frames.txt", "frame-10fps-", 800, 600,
                {{26, 25}, {76, 75}, {171, 170}, {251, 250}});
    frames.remove();
}

// Drawn at 1600x1200, not scaled up: the same look at four times the pixels.
TEST(GoldenFrames, EachSceneAt1600x1200MatchesItsReferenceAndNoNeighbourDoes) {
    Frames frames("--size 1600x1200 --fps 2 --to 25.1");
    frames.render();
    checkFrames(frames, "frames-1600x1200.txt", "frame-1600x1200-2fps-", 1600, 1200,
                {{6, 5}, {16, 15}, {35, 34}, {49, 50}});

    // The 800x600 picture of the same moment scaled up, each pixel doubled,
    // must not pass either: the scroller's text is where it shows.
    Picture small = Frames::reference("frame-10fps-", 25), doubled;
    doubled.width = small.width * 2;
    doubled.height = small.height * 2;
    for (int y = 0; y < doubled.height; ++y)
        for (int x = 0; x < doubled.width; ++x)
            for (int c = 0; c < 3; ++c)
                doubled.rgb.push_back(small.rgb[((y / 2) * small.width + x / 2) * 3 + c]);
    Difference d = compare(doubled, frames.rendered(5));
    EXPECT_FALSE(d.matches()) << "a scaled-up picture passes: mean " << d.mean << ", far "
                              << d.farShare * 100 << " %";
    frames.remove();
}

} // namespace
