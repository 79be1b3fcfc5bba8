// The show's frames rendered for real (Mesa llvmpipe, offscreen), drawn in
// sequence from t = 0 as the show draws them, judged from sampled pixels.
#include "driver/demo_main.h"
#include "driver/display.h"
#include "driver/platform.h"
#include "visuals/primitives.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/glu.h>
#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr int W = 800, H = 600;
unsigned char frame[W * H * 4];
using Vec = std::array<double, 3>;

// Rows counted from the bottom, as GL counts them; the read-back is top first.
double meanGrey(int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            sum += frame[((H - 1 - y) * W + x) * 4];
    return sum / ((x1 - x0) * (y1 - y0));
}

// Every half second from where the last call stopped up to t. Reading the
// frame back also waits for it, which the offscreen swap does not.
void playUntil(float t) {
    static float clock = 0.0f;
    for (; clock <= t; clock += 0.5f) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(clock);
        platformSwapBuffers();
        platformReadFrame(frame);
    }
    ASSERT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// Correlation of the picture with texture `slot` laid r times over the quad
// o + s a + t b (s, t from 0 to 1; s the first texture coordinate), seen from
// a camera at eye looking at the origin: near 1 when the picture shows it.
double correlation(Vec eye, Vec up, Vec o, Vec a, Vec b, double r, int slot) {
    double mv[16], pr[16], x, y, z, n = 0, se = 0, sg = 0, see = 0, sgg = 0, seg = 0;
    GLint vp[4];
    glLoadIdentity(); // the frame is drawn already; the next one starts from identity again
    gluLookAt(eye[0], eye[1], eye[2], 0, 0, 0, up[0], up[1], up[2]);
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    for (double s = 0.005; s < 1; s += 0.01)
        for (double t = 0.005; t < 1; t += 0.01) {
            gluProject(o[0] + s * a[0] + t * b[0], o[1] + s * a[1] + t * b[1],
                       o[2] + s * a[2] + t * b[2], mv, pr, vp, &x, &y, &z);
            if (x < 0 || x >= W || y < 0 || y >= H || z < 0 || z > 1)
                continue;
            const double u = s * r - std::floor(s * r), v = t * r - std::floor(t * r);
            const double e = TexturePixels[slot][((int)(v * 256) * 256 + (int)(u * 256)) * 4];
            const double g = meanGrey((int)x, (int)y, (int)x + 1, (int)y + 1);
            n++, se += e, sg += g, see += e * e, sgg += g * g, seg += e * g;
        }
    return (seg / n - se / n * sg / n) /
           std::sqrt((see / n - se / n * se / n) * (sgg / n - sg / n * sg / n));
}

TEST(ShowRender, FramesInShowOrder) {
    platformRequestHeadless();
    buildShow();

    // The scroller: the greeting upright, v times over the quad x -2..2,
    // y -1..1 one unit ahead (v = 5, then 3.625 at t = 2.5, where a frame
    // that had not zoomed would not match).
    const Vec back = {0, 0, 1}, yUp = {0, 1, 0}, corner = {-2, -1, 0};
    playUntil(0.0f);
    EXPECT_GT(correlation(back, yUp, corner, {4, 0, 0}, {0, 2, 0}, 5, SLOT_GREETING), 0.6);
    playUntil(2.5f);
    EXPECT_GT(correlation(back, yUp, corner, {4, 0, 0}, {0, 2, 0}, 3.625, SLOT_GREETING), 0.6);

    // The fly-in: lost in fog at first, then a glow brightest at the centre,
    // then saturated by its five additive passes.
    playUntil(5.0f);
    EXPECT_LT(meanGrey(0, 0, W, H), 4);
    playUntil(8.0f);
    const double centre = meanGrey(360, 260, 440, 340), side = meanGrey(160, 260, 240, 340);
    EXPECT_TRUE(centre > 100 && centre > 1.3 * side && side > 40 && meanGrey(0, 0, 40, 40) < 3);
    playUntil(11.0f);
    EXPECT_EQ(meanGrey(0, 0, W, H), 255);

    // The orbit at t = 17 faces the box's x = -4.1 side: the white sphere
    // bulges through its middle, its glow fades to black corners, and the
    // dim fly-in shows round it.
    playUntil(17.0f);
    const Vec orbit = {11.0 * floatSin(17), floatSin(17), 11.0 * floatCos(17)};
    EXPECT_GT(correlation(orbit, yUp, {-4.1, 4.1, -4.1}, {0, -8.2, 0}, {0, 0, 8.2}, 1, SLOT_GLOW),
              0.8);
    EXPECT_EQ(meanGrey(335, 305, 345, 315), 255); // the bulge's edge, where the glow is dim
    EXPECT_GT(meanGrey(0, 0, 40, 40), 10);

    // The caption cube's z = 2 face, the closing word twice across, seen from
    // the rolled camera in front of the dark tunnel, faint at the end.
    for (float t : {25.0f, 30.5f}) {
        playUntil(t);
        const Vec eye = {5.0 * floatSin(t), floatSin(t), 5.0 * floatCos(t)};
        EXPECT_GT(correlation(eye, {-1, 1, 0}, {-2, 2, 2}, {0, -4, 0}, {4, 0, 0}, 2, SLOT_CLOSING),
                  0.8);
    }
    EXPECT_GT(meanGrey(0, 0, 40, 40), 1);
}

} // namespace
