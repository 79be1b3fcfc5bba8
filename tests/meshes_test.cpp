// The exact GL streams of the meshes and of whole frames. libGL is not
// linked: the entry points below stand in for it and record what was called.
#include "visuals/primitives.h"
#include "visuals/scenes.h"

#include <GL/glu.h>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// Distinct from 0 and from each other, so the binds show which slot was used.
GLuint textureNames[3] = {101, 102, 103};

namespace {

// VIA: how the texture coordinate was last given ('f' glTexCoord2f, 'v'
// glTexCoord2sv), '-' when not since the previous vertex.
using Vertex = std::array<float, 6>;
enum { X, Y, Z, S, T, VIA };
std::vector<Vertex> verts;
std::string calls, colour;             // calls: all but vertices and texture coordinates
std::vector<std::vector<double>> args; // of translate and lookAt, in order
std::map<GLenum, bool> enabled;
std::map<GLenum, std::string> cap = {
    {GL_FOG, "fog"}, {GL_BLEND, "blend"}, {GL_DEPTH_TEST, "depth"}};
float curS, curT, via = '-';

// Forgets what was recorded; with `setUp`, also the state the GL context
// keeps from frame to frame, back to what the show's set-up leaves.
void reset(bool setUp = true) {
    verts.clear(), calls.clear(), args.clear();
    if (setUp) {
        enabled = {{GL_FOG, 0}, {GL_DEPTH_TEST, 1}, {GL_BLEND, 0}, {GL_TEXTURE_2D, 1}};
        colour = "255 255 255 255";
    }
}
void say(const std::string &word) {
    calls += (calls.empty() ? "" : " ") + word;
}

} // namespace

extern "C" {
void glBegin(GLenum m) {
    say(m == GL_QUADS ? "quads" : m == GL_QUAD_STRIP ? "qstrip" : "tstrip");
}
void glEnd() {
    say("end");
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    verts.push_back({x, y, z, curS, curT, via}), via = '-';
}
void glVertex2s(GLshort x, GLshort y) {
    verts.push_back({(float)x, (float)y, 0, curS, curT, via}), via = '-';
}
void glTexCoord2f(GLfloat s, GLfloat t) {
    curS = s, curT = t, via = 'f';
}
void glTexCoord2sv(const GLshort *v) {
    curS = v[0], curT = v[1], via = 'v';
}
void glColor4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a) {
    colour = std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + " " +
             std::to_string(a);
    say("color " + colour);
}
void glBindTexture(GLenum, GLuint name) {
    say("bind " + std::to_string(name));
}
void glEnable(GLenum c) {
    say("+" + cap[c]), enabled[c] = true;
}
void glDisable(GLenum c) {
    say("-" + cap[c]), enabled[c] = false;
}
void glPushMatrix() {
    say("push");
}
void glPopMatrix() {
    say("pop");
}
void glLoadIdentity() {
    say("identity");
}
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    args.push_back({x, y, z}), say("translate");
}
void gluLookAt(GLdouble a, GLdouble b, GLdouble c, GLdouble d, GLdouble e, GLdouble f, GLdouble g,
               GLdouble h, GLdouble i) {
    args.push_back({a, b, c, d, e, f, g, h, i}), say("lookAt");
}
}

namespace {

TEST(Meshes, CubeCornersAndTexture) {
    // Corner signs face by face, as the box's layout lists them.
    const char *signs = "++- -+- --- +-- -++ +++ +-+ --+ -+- -++ --+ --- "
                        "+++ ++- +-- +-+ --- --+ +-+ +-- -++ -+- ++- +++";
    const float cases[2][7] = {{1.5f, -2.25f, 0.3f, 0.7f, 4.1f, 2.0f, 3.0f}, {0, 0, 0, 2, 2, 2, 2}};
    for (const float *c : cases) {
        reset();
        drawCube(c[0], c[1], c[2], c[3], c[4], c[5], c[6], 42);
        EXPECT_EQ(calls, "bind 42 quads end");
        ASSERT_EQ(verts.size(), 24u);
        for (int k = 0; k < 24; k++) {
            const Vertex &v = verts[k];
            for (int a = 0; a < 3; a++)
                EXPECT_EQ(v[a], signs[4 * k + a] == '+' ? c[a] + c[a + 3] : c[a] - c[a + 3]) << k;
            // (0, 0) as a short pair, then (0, r), (r, r), (r, 0) for repeat r.
            EXPECT_TRUE(v[S] == (k % 4 < 2 ? 0 : c[6]) && v[T] == (k % 4 % 3 ? c[6] : 0)) << k;
            EXPECT_EQ(v[VIA], k % 4 ? 'f' : 'v');
        }
    }
}

TEST(Meshes, SphereCountsOpenCapAndEmptyStrip) {
    // Segments, vertices, highest y: an odd count stops short of the north
    // pole (for 25 at latitude 1.445).
    const std::tuple<int, size_t, double> cases[] = {
        {25, 624, 5 * std::sin(1.445)}, {75, 5624, 4.9956}, {24, 600, 5}, {1, 0, 0}, {-3, 0, 0}};
    for (auto [n, count, top] : cases) {
        reset();
        drawSphere(1, 2, 3, 5, n, 0);
        EXPECT_EQ(calls, "bind 0 qstrip end");
        ASSERT_EQ(verts.size(), count) << n;
        float high = 0;
        for (const Vertex &v : verts) {
            EXPECT_NEAR(std::hypot(v[X] - 1, v[Y] - 2, v[Z] - 3), 5, 1e-5);
            EXPECT_EQ(v[VIA], '-'); // no texture coordinates
            high = std::fmax(high, v[Y] - 2);
        }
        EXPECT_NEAR(high, top, 1e-3) << n;
    }
    // From the south pole, upper latitude first, on the seam.
    const float lat = 1.0f * 6.28318f / 25.0f - 1.570795f;
    reset();
    drawSphere(0, 0, 0, 5, 25, 0);
    EXPECT_TRUE(verts[0][X] == (float)std::cos((double)lat) * 5.0f &&
                verts[0][Y] == (float)std::sin((double)lat) * 5.0f && verts[1][Y] == -5.0f);
}

TEST(Meshes, ShowTubeBands) {
    reset();
    drawTube(1000, 10, 5, 10, 100, 100, 55);
    EXPECT_EQ(calls, "bind 55 tstrip end");
    ASSERT_EQ(verts.size(), 11022u);
    // Bands one spacing wide from -5000 to 5010, a texture row each; the
    // seam at (0, radius).
    const Vertex *v = verts.data();
    const size_t band = 22, last = verts.size() - 2;
    EXPECT_EQ((std::vector<float>{v[0][Z], v[1][Z], v[band][Z], v[band + 1][Z], v[last][Z],
                                  v[last + 1][Z], v[0][T], v[band][T], v[0][X], v[0][Y]}),
              (std::vector<float>{-5000, -4990, -4980, -4970, 5000, 5010, 0,
                                  2.0f / 1001.0f * 100.0f, 0, 5}));
    for (size_t k = 0; k < verts.size(); k++) {
        const Vertex &q = v[k], &pair = v[k & ~1], &row = v[k - k % band];
        EXPECT_EQ(q[S], 10.0f * (float)(k % band / 2)) << k;
        EXPECT_TRUE(q[T] == row[T] && q[VIA] == 'f' && q[X] == pair[X] && q[Y] == pair[Y]) << k;
        EXPECT_NEAR(std::hypot(q[X], q[Y]), 5, 1e-5);
    }
}

void showFrame(float t) {
    reset(false);
    glLoadIdentity();
    drawFrame(t);
}

// The boundaries in the order the show reaches them, state carried along.
TEST(Timeline, ScenesVerticesAndStateAtTheBoundaries) {
    std::string box = " bind 101 quads end bind 0 qstrip end", flyIn = "+fog lookAt -depth +blend";
    for (int a = 255; a > 0; a -= 51)
        flyIn += " color 255 255 255 " + std::to_string(a) + box;
    flyIn += " +depth -blend";
    const std::string
        scroller = "translate bind 102 quads end",
        orbit = flyIn + " push identity -fog lookAt" + box + " pop",
        tunnel = "lookAt +fog bind 101 tstrip end push identity lookAt -fog bind 103 quads end pop";
    const char *white = "255 255 255 255", *faded = "255 255 255 51";
    const std::tuple<float, std::string, size_t, bool, const char *> frames[] = {
        {0.0f, scroller, 4, false, white},    {4.999f, scroller, 4, false, white},
        {5.0f, flyIn, 3240, true, faded},     {14.0f, flyIn, 3240, true, faded},
        {14.7f, orbit, 8888, false, faded},   {19.999f, orbit, 8888, false, faded},
        {20.0f, tunnel, 11046, false, faded}, {30.999f, tunnel, 11046, false, faded}};
    reset();
    for (const auto &[t, expected, count, fog, leftColour] : frames) {
        SCOPED_TRACE(t);
        showFrame(t);
        EXPECT_EQ(calls, "identity " + expected);
        EXPECT_EQ(verts.size(), count);
        EXPECT_TRUE(enabled[GL_FOG] == fog && enabled[GL_DEPTH_TEST] && !enabled[GL_BLEND] &&
                    enabled[GL_TEXTURE_2D]);
        EXPECT_EQ(colour, leftColour);
    }
}

// The curves and cameras at the boundaries, with the values the script
// promises there.
TEST(Timeline, CurvesAndCameras) {
    using Args = std::vector<double>;
    reset();
    showFrame(0.0f); // the greeting five times over, (0, 0) at the lower left
    EXPECT_EQ(args.at(0), (Args{-1, -1, -1}));
    const std::vector<Vertex> quad = {
        {3, 2, 0, 5, 5, 'f'}, {3, 0, 0, 5, 0, 'f'}, {-1, 0, 0, 0, 0, 'v'}, {-1, 2, 0, 0, 5, 'f'}};
    EXPECT_EQ(verts, quad);
    showFrame(5.0f);
    EXPECT_EQ(args.at(0), (Args{0, 0, -10, 0, 0, 0, 0, 1, 0}));
    // sin and cos of the float time, rounded to float, scaled in double.
    float s = (float)std::sin((double)14.7f), c = (float)std::cos((double)14.7f);
    showFrame(14.7f);
    EXPECT_EQ(args.at(1), (Args{11.0 * s, s, 11.0 * c, 0, 0, 0, 0, 1, 0}));
    s = (float)std::sin(20.0), c = (float)std::cos(20.0);
    showFrame(20.0f);
    EXPECT_NEAR(args.at(0)[2], 3824.0, 0.01);
    EXPECT_EQ(args[0][5], args[0][2] + 1.0);
    EXPECT_EQ(args.at(1), (Args{5.0 * s, s, 5.0 * c, 0, 0, 0, -1, 1, 0}));
    // The curves' landmarks inside their windows.
    showFrame(2.5f);
    EXPECT_NEAR(verts.at(0)[S], 3.625f, 1e-5);
    showFrame(12.5f);
    EXPECT_NEAR(args.at(0)[2], -5.0, 1e-5);
    showFrame(25.0f);
    EXPECT_NEAR(args.at(0)[2], 4250.0, 0.01);
}

} // namespace
