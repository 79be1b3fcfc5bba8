// The show's frames rendered for real (Mesa llvmpipe, offscreen), drawn in
// sequence from t = 0 as the show draws them and judged from their pixels
// against what the scene's camera and textures predict.
#include "driver/display.h"
#include "driver/platform.h"
#include "visuals/primitives.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/glu.h>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int W = 800, H = 600;

struct Vec {
    double x, y, z;
};
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(Vec a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
double dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec unit(Vec a) {
    return a * (1 / std::sqrt(dot(a, a)));
}

// A camera as gluLookAt places it, under the show's 90-degree, 4:3 view.
struct Camera {
    Vec eye, forward, side, up;
    Camera(Vec e, Vec centre, Vec upHint) : eye(e) {
        forward = unit(centre - e);
        side = unit(cross(forward, upHint));
        up = cross(side, forward);
    }
    // Direction through the centre of pixel (px, py), rows counted from the bottom.
    Vec ray(int px, int py) const {
        const double x = ((px + 0.5) / (W / 2) - 1) * 4 / 3, y = (py + 0.5) / (H / 2) - 1;
        return forward + side * x + up * y;
    }
};

// Nearest hit of the ray on the axis-aligned box of half size h round the
// origin: distance along the ray (or -1) and the axis of the face hit.
double hitBox(Vec o, Vec d, double h, int *axis) {
    double near = -1e30, far = 1e30;
    const double oc[3] = {o.x, o.y, o.z}, dc[3] = {d.x, d.y, d.z};
    for (int k = 0; k < 3; k++) {
        double a = (-h - oc[k]) / dc[k], b = (h - oc[k]) / dc[k];
        if (a > b)
            std::swap(a, b);
        if (a > near) {
            near = a;
            *axis = k;
        }
        far = std::min(far, b);
    }
    return near <= far && near > 0 ? near : -1;
}

double hitSphere(Vec o, Vec d, double r) {
    const double a = dot(d, d), b = dot(o, d), c = dot(o, o) - r * r, disc = b * b - a * c;
    return disc < 0 ? -1 : (-b - std::sqrt(disc)) / a;
}

// The glow image's cone: 256 at the face centre falling to 0 at the edge midpoints.
double glowAt(double a, double b) {
    return std::clamp(256 - 256 * std::sqrt(a * a + b * b), 0.0, 255.0);
}

struct ShowRender : ::testing::Test {
    std::vector<unsigned char> frame = std::vector<unsigned char>(W * H * 4);

    void SetUp() override {
        // The show's own display set-up, rendering into its 800x600 framebuffer
        // on an invisible surface; opened once per process.
        static bool opened;
        if (!opened) {
            platformRequestHeadless();
            setupDisplay();
            makeGlowTexture();
            makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
            makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
            uploadTextures();
            opened = true;
        }
    }

    // One frame as the driver draws it; reading it back also waits for it,
    // as the offscreen swap does not.
    void draw(float t) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        drawFrame(t);
        platformSwapBuffers();
        platformReadFrame(frame.data());
    }
    // Every half second since the last call (from the start at first), then t.
    float clock = 0.0f;
    void playUntil(float t) {
        for (; clock < t; clock += 0.5f)
            draw(clock);
        draw(t);
        ASSERT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    // Rows counted from the bottom, as GL counts them; the read-back is top first.
    int grey(int px, int py) const { return frame[((H - 1 - py) * W + px) * 4]; }
    double meanGrey(int x0, int y0, int x1, int y1) const {
        double sum = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++)
                sum += grey(x, y);
        return sum / ((x1 - x0) * (y1 - y0));
    }
};

// Correlation of the picture with the greeting image laid v times over the
// quad from x = -2 to 2, y = -1 to 1 at depth 1, row 0 at the bottom.
double greetingCorrelation(const ShowRender &r, float v, bool flipped) {
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    int n = 0;
    for (int py = 0; py < H; py += 2)
        for (int px = 0; px < W; px += 2) {
            const double s = (((px + 0.5) - W / 2) / (H / 2) + 2) / 4 * v;
            double t = (((py + 0.5) - H / 2) / (H / 2) + 1) / 2 * v;
            if (flipped)
                t = v - t;
            const int col = (int)((s - std::floor(s)) * 256),
                      row = (int)((t - std::floor(t)) * 256);
            const double expected = TexturePixels[SLOT_GREETING][(row * 256 + col) * 4];
            const double seen = r.grey(px, py);
            sx += expected, sy += seen, sxx += expected * expected, syy += seen * seen;
            sxy += expected * seen, n++;
        }
    const double cov = sxy / n - sx / n * sy / n;
    return cov / std::sqrt((sxx / n - sx / n * sx / n) * (syy / n - sy / n * sy / n));
}

TEST_F(ShowRender, ScrollerShowsTheGreetingRepeatedAndZooming) {
    playUntil(0.0f);
    EXPECT_GT(greetingCorrelation(*this, 5.0f, false), 0.6);
    EXPECT_LT(greetingCorrelation(*this, 5.0f, true), 0.3) << "the text must stand upright";
    playUntil(2.5f);
    const float u = 2.5f * 0.2f, v = u * u * u * -11.0f + u * u * 12.0f + u * -6.0f + 5.0f;
    EXPECT_GT(greetingCorrelation(*this, v, false), 0.6);
    EXPECT_LT(greetingCorrelation(*this, 5.0f, false), 0.3) << "the image must have zoomed";
}

TEST_F(ShowRender, FlyInGlowsAtTheCentreAndEmergesFromTheFog) {
    playUntil(5.0f);
    // Ten units out the fog swallows nearly everything.
    EXPECT_LT(meanGrey(0, 0, W, H), 4);
    playUntil(8.0f);
    const double centre = meanGrey(W / 2 - 40, H / 2 - 40, W / 2 + 40, H / 2 + 40);
    EXPECT_GT(centre, 100);
    const double side = meanGrey(W / 2 - 240, H / 2 - 40, W / 2 - 160, H / 2 + 40);
    EXPECT_GT(centre, 1.3 * side);
    EXPECT_GT(side, 40);
    EXPECT_LT(meanGrey(0, 0, 40, 40), 3) << "corners stay dark";
    // The light is centred on the screen.
    double sum = 0, cx = 0, cy = 0;
    for (int py = 0; py < H; py++)
        for (int px = 0; px < W; px++) {
            sum += grey(px, py), cx += grey(px, py) * px, cy += grey(px, py) * py;
        }
    EXPECT_NEAR(cx / sum, W / 2, 6);
    EXPECT_NEAR(cy / sum, H / 2, 6);
    // Close to the sphere the five additive passes saturate everything.
    playUntil(11.0f);
    EXPECT_EQ(meanGrey(0, 0, W, H), 255);
}

TEST_F(ShowRender, OrbitShowsTheWhiteSphereAndTheBoxCornersOverTheFlyIn) {
    const float t = 17.0f;
    playUntil(t);
    const double s = floatSin(t), c = floatCos(t);
    const Camera cam({11 * s, s, 11 * c}, {0, 0, 0}, {0, 1, 0});
    int sphere = 0, box = 0, corner = 0, wrong = 0;
    for (int py = 4; py < H; py += 8)
        for (int px = 4; px < W; px += 8) {
            // Judge only pixels whose neighbours see the same surface.
            int kinds[5];
            double value = 0;
            for (int k = 0; k < 5; k++) {
                const int dx = k == 1 ? 3 : k == 2 ? -3 : 0, dy = k == 3 ? 3 : k == 4 ? -3 : 0;
                const Vec d = cam.ray(px + dx, py + dy);
                int axis = 0;
                const double tb = hitBox(cam.eye, d, 4.1, &axis), ts = hitSphere(cam.eye, d, 5);
                kinds[k] = tb < 0 && ts < 0 ? 0 : (ts > 0 && (tb < 0 || ts < tb)) ? 1 : 2 + axis;
                if (k == 0 && kinds[k] >= 2) {
                    const Vec p = cam.eye + d * tb;
                    const double q[3] = {p.x, p.y, p.z};
                    value = glowAt(q[(axis + 1) % 3] / 4.1, q[(axis + 2) % 3] / 4.1);
                }
            }
            if (kinds[0] == 0 || std::count(kinds, kinds + 5, kinds[0]) != 5)
                continue;
            const int seen = grey(px, py);
            if (kinds[0] == 1) {
                sphere++;
                wrong += seen != 255;
            } else {
                box++;
                corner += value == 0;
                wrong += std::abs(seen - value) > 24;
            }
        }
    EXPECT_GT(sphere, 300);
    EXPECT_GT(box, 300);
    EXPECT_GT(corner, 50) << "black box corners stand out of the sphere";
    EXPECT_LT(wrong, (sphere + box) / 50);
}

TEST_F(ShowRender, CaptionCubeSitsInFrontOfTheDarkTunnel) {
    for (float t : {25.0f, 30.999f}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        playUntil(t);
        const double s = floatSin(t), c = floatCos(t);
        const Camera cam({5 * s, s, 5 * c}, {0, 0, 0}, {-1, 1, 0});
        int inside = 0, lit = 0, strayLight = 0;
        for (int py = 0; py < H; py += 2)
            for (int px = 0; px < W; px += 2) {
                int axis = 0;
                // A pixel near the silhouette may go either way.
                bool any = false, all = true;
                for (int k = 0; k < 4; k++) {
                    const bool hit =
                        hitBox(cam.eye, cam.ray(px + (k & 1 ? 2 : -2), py + (k & 2 ? 2 : -2)), 2,
                               &axis) > 0;
                    any |= hit;
                    all &= hit;
                }
                const int seen = grey(px, py);
                if (all) {
                    inside++;
                    lit += seen > 128;
                } else if (!any) {
                    strayLight += seen > 16;
                }
            }
        EXPECT_GT(inside, 10000);
        // The closing word's letters cover a few per cent of the faces (the
        // glow would light a fifth of them).
        EXPECT_GT(lit, inside / 100);
        EXPECT_LT(lit, inside / 10);
        EXPECT_EQ(strayLight, 0) << "only the caption cube is lit; the tunnel is lost in fog";
    }
}

} // namespace
