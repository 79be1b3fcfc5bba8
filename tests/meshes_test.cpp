// The exact vertex streams of the meshes. libGL is not linked: the entry
// points below stand in for it and record the vertices.
#include "visuals/primitives.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using Vertex = std::array<float, 5>; // x, y, z, s, t
enum { X, Y, Z, S, T };
std::vector<Vertex> verts;
GLuint bound;
float curS, curT;

void reset() {
    verts.clear();
    bound = 0;
    curS = curT = -1;
}

} // namespace

extern "C" {
void glBegin(GLenum) {}
void glEnd() {}
void glBindTexture(GLenum, GLuint name) {
    bound = name;
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    verts.push_back({x, y, z, curS, curT});
}
void glTexCoord2f(GLfloat s, GLfloat t) {
    curS = s, curT = t;
}
void glTexCoord2sv(const GLshort *v) {
    curS = v[0], curT = v[1];
}
}

namespace {

TEST(Meshes, CubeCornersAndTexture) {
    // Corner signs face by face, in the box's order.
    const char *signs = "++- -+- --- +-- -++ +++ +-+ --+ -+- -++ --+ --- "
                        "+++ ++- +-- +-+ --- --+ +-+ +-- -++ -+- ++- +++";
    const float cases[2][7] = {{1.5f, -2.25f, 0.3f, 0.7f, 4.1f, 2.0f, 3.0f}, {0, 0, 0, 2, 2, 2, 2}};
    for (const float *c : cases) {
        reset();
        drawCube(c[0], c[1], c[2], c[3], c[4], c[5], c[6], 42);
        EXPECT_EQ(bound, 42u);
        ASSERT_EQ(verts.size(), 24u);
        for (int k = 0; k < 24; k++) {
            const Vertex &v = verts[k];
            for (int a = 0; a < 3; a++)
                EXPECT_EQ(v[a], signs[4 * k + a] == '+' ? c[a] + c[a + 3] : c[a] - c[a + 3]) << k;
            // (0, 0), (0, r), (r, r), (r, 0) for repeat r.
            EXPECT_TRUE(v[S] == (k % 4 < 2 ? 0 : c[6]) && v[T] == (k % 4 % 3 ? c[6] : 0)) << k;
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
        ASSERT_EQ(verts.size(), count) << n;
        float high = 0;
        for (const Vertex &v : verts) {
            EXPECT_NEAR(std::hypot(v[X] - 1, v[Y] - 2, v[Z] - 3), 5, 1e-5);
            EXPECT_EQ(v[S], -1.0f); // no texture coordinates
            high = std::fmax(high, v[Y] - 2);
        }
        EXPECT_NEAR(high, top, 1e-3) << n;
    }
    // From the south pole, upper latitude first, on the seam; sine and cosine
    // of the float angle rounded back to float.
    const float lat = 1.0f * 6.28318f / 25.0f - 1.570795f;
    reset();
    drawSphere(0, 0, 0, 5, 25, 0);
    EXPECT_TRUE(verts[0][X] == (float)std::cos((double)lat) * 5.0f &&
                verts[0][Y] == (float)std::sin((double)lat) * 5.0f && verts[1][Y] == -5.0f);
}

TEST(Meshes, ShowTubeBands) {
    reset();
    drawTube(1000, 10, 5, 10, 100, 100, 55);
    EXPECT_EQ(bound, 55u);
    ASSERT_EQ(verts.size(), 11022u);
    // Bands one spacing wide from -5000 to 5010 with gaps between, a texture
    // row each; the seam at (0, radius).
    const Vertex *v = verts.data();
    const size_t band = 22, last = verts.size() - 2;
    EXPECT_EQ((std::vector<float>{v[0][Z], v[1][Z], v[band][Z], v[band + 1][Z], v[last][Z],
                                  v[last + 1][Z], v[0][T], v[band][T], v[0][X], v[0][Y]}),
              (std::vector<float>{-5000, -4990, -4980, -4970, 5000, 5010, 0,
                                  2.0f / 1001.0f * 100.0f, 0, 5}));
    for (size_t k = 0; k < verts.size(); k++) {
        const Vertex &q = v[k], &pair = v[k & ~1], &row = v[k - k % band];
        EXPECT_EQ(q[S], 10.0f * (float)(k % band / 2)) << k;
        EXPECT_TRUE(q[T] == row[T] && q[X] == pair[X] && q[Y] == pair[Y]) << k;
        EXPECT_NEAR(std::hypot(q[X], q[Y]), 5, 1e-5);
    }
}

} // namespace
