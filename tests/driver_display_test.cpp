// The show's display in a real context on SDL's offscreen driver: the fixed
// rendering state, the framebuffer it draws into, read-back and presentation.
#include "driver/display.h"
#include "driver/platform.h"
#include "driver/platform_internal.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

class Display : public ::testing::Test {
  protected:
    void SetUp() override {
        platformRequestHeadless();
        setupDisplay();
    }
};

GLint integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

// Projects an eye-space point and returns its normalised device coordinates.
void project(const GLdouble m[16], double x, double y, double z, double ndc[3]) {
    double clip[4];
    for (int row = 0; row < 4; ++row)
        clip[row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
    for (int i = 0; i < 3; ++i)
        ndc[i] = clip[i] / clip[3];
}

TEST_F(Display, SetsTheFixedRenderingState) {
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_FOG));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE);
    EXPECT_EQ(integer(GL_FOG_MODE), GL_EXP);
    GLfloat density = 0, start = 0, colour[4] = {1, 1, 1, 1};
    glGetFloatv(GL_FOG_DENSITY, &density);
    glGetFloatv(GL_FOG_START, &start);
    glGetFloatv(GL_FOG_COLOR, colour);
    EXPECT_EQ(density, 1.0f);
    EXPECT_EQ(start, 40.0f);
    // Given in the integer form, black maps to (2c + 1) / (2^32 - 1): 2.3e-10.
    GLint integerColour[4] = {1, 1, 1, 1};
    glGetIntegerv(GL_FOG_COLOR, integerColour);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(integerColour[i], 0);
        EXPECT_LT(colour[i], 1e-9f);
    }
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_EQ(integer(GL_DEPTH_FUNC), GL_LESS);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(Display, ProjectsAsGluPerspectiveWithTheShowsValues) {
    GLdouble m[16];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    // gluPerspective's matrix for fovy 90 (cotangent 1), aspect and near as
    // floats widened, far 1500.
    double aspect = (double)(4.0f / 3.0f), zNear = (double)0.1f, zFar = 1500.0;
    double f = 1.0 / std::tan(90.0 / 2.0 * M_PI / 180.0);
    double expected[16] = {f / aspect,
                           0,
                           0,
                           0,
                           0,
                           f,
                           0,
                           0,
                           0,
                           0,
                           (zFar + zNear) / (zNear - zFar),
                           -1,
                           0,
                           0,
                           2 * zFar * zNear / (zNear - zFar),
                           0};
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m[i], expected[i], 1e-6 * (1.0 + std::fabs(expected[i]))) << "element " << i;

    // At eye depth -1, y = +-1 and x = +-4/3 fall on the screen's edges.
    double ndc[3];
    project(m, 0, 1, -1, ndc);
    EXPECT_NEAR(ndc[1], 1.0, 1e-6);
    project(m, 0, -1, -1, ndc);
    EXPECT_NEAR(ndc[1], -1.0, 1e-6);
    project(m, 4.0 / 3.0, 0, -1, ndc);
    EXPECT_NEAR(ndc[0], 1.0, 1e-6);
    project(m, -4.0 / 3.0, 0, -1, ndc);
    EXPECT_NEAR(ndc[0], -1.0, 1e-6);
}

TEST_F(Display, DrawsInto800x600Rgba8Depth16) {
    EXPECT_NE(integer(GL_DRAW_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(integer(GL_READ_FRAMEBUFFER_BINDING), integer(GL_DRAW_FRAMEBUFFER_BINDING));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], SCREEN_WIDTH);
    EXPECT_EQ(viewport[3], SCREEN_HEIGHT);
    EXPECT_EQ(integer(GL_RED_BITS), 8);
    EXPECT_EQ(integer(GL_GREEN_BITS), 8);
    EXPECT_EQ(integer(GL_BLUE_BITS), 8);
    EXPECT_EQ(integer(GL_ALPHA_BITS), 8);
    // A deeper buffer would change which fragments win the depth test.
    EXPECT_EQ(integer(GL_DEPTH_BITS), 16);
}

// Clears the picture to one colour and its top 100 rows to another.
void paintTopStrip() {
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, SCREEN_HEIGHT - 100, SCREEN_WIDTH, 100);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

TEST_F(Display, ReadsTheFrameBackUpright) {
    paintTopStrip();
    std::vector<unsigned char> rgba(SCREEN_WIDTH * SCREEN_HEIGHT * 4, 7);
    platformReadFrame(rgba.data());
    auto at = [&](int x, int row) { return &rgba[((size_t)row * SCREEN_WIDTH + x) * 4]; };
    for (int row : {0, 99}) {
        EXPECT_EQ(at(5, row)[0], 255) << "row " << row;
        EXPECT_EQ(at(5, row)[2], 0) << "row " << row;
    }
    for (int row : {100, SCREEN_HEIGHT - 1}) {
        EXPECT_EQ(at(795, row)[0], 0) << "row " << row;
        EXPECT_EQ(at(795, row)[2], 255) << "row " << row;
        EXPECT_EQ(at(795, row)[3], 255) << "row " << row;
    }
}

// Reads the window's framebuffer, bottom-up.
std::vector<unsigned char> readWindow() {
    std::vector<unsigned char> rgba(SCREEN_WIDTH * SCREEN_HEIGHT * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadPixels(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

TEST_F(Display, PresentsScaledCentredWithBlackBars) {
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // A drawable twice as wide as its height: the picture is 400 x 300 in the
    // middle, bars left and right.
    platformBlitToWindow(800, 300);
    std::vector<unsigned char> shown = readWindow();
    auto green = [&](int x, int y) {
        const unsigned char *p = &shown[((size_t)y * SCREEN_WIDTH + x) * 4];
        return p[0] == 0 && p[1] == 255 && p[2] == 0;
    };
    auto black = [&](int x, int y) {
        const unsigned char *p = &shown[((size_t)y * SCREEN_WIDTH + x) * 4];
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    };
    EXPECT_TRUE(black(0, 150));
    EXPECT_TRUE(black(198, 150));
    EXPECT_TRUE(green(202, 0));
    EXPECT_TRUE(green(400, 150));
    EXPECT_TRUE(green(597, 299));
    EXPECT_TRUE(black(602, 150));
    EXPECT_TRUE(black(799, 150));

    // The show's own state is as it left it.
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[1], 1.0f);
    EXPECT_EQ(clear[3], 1.0f);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], SCREEN_WIDTH);
    EXPECT_EQ(viewport[3], SCREEN_HEIGHT);
}

TEST(FitRect, ScalesToFitAndCentres) {
    struct Case {
        int w, h, x, y, fw, fh;
    } cases[] = {
        {800, 600, 0, 0, 800, 600},       {1024, 768, 0, 0, 1024, 768},
        {1920, 1080, 240, 0, 1440, 1080}, {1280, 1024, 0, 32, 1280, 960},
        {1080, 1920, 0, 555, 1080, 810},  {801, 600, 0, 0, 800, 600},
    };
    for (const Case &c : cases) {
        int rect[4];
        platformFitRect(800, 600, c.w, c.h, rect);
        EXPECT_EQ(rect[0], c.x) << c.w << "x" << c.h;
        EXPECT_EQ(rect[1], c.y) << c.w << "x" << c.h;
        EXPECT_EQ(rect[2], c.fw) << c.w << "x" << c.h;
        EXPECT_EQ(rect[3], c.fh) << c.w << "x" << c.h;
    }
}

} // namespace
