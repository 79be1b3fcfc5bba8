// The exact vertex streams of the meshes and of whole frames, as recorded
// from the GL calls the code makes (through the recording stand-in).
#include "tests/scenes_gl_recorder.h"
#include "visuals/primitives.h"
#include "visuals/scenes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using glrec::Op;
using Words = std::vector<std::string>;

namespace {

// Float sine and cosine rounded from double, written out independently of
// the code under test.
float refSin(float a) {
    return (float)std::sin((double)a);
}
float refCos(float a) {
    return (float)std::cos((double)a);
}

struct Recorded : ::testing::Test {
    void SetUp() override { glrec::reset(); }
    void TearDown() override { EXPECT_EQ(glrec::errors, 0) << "GL call misused"; }
};

// Ops of the calls between the first begin and its end.
std::vector<Op> opsInside() {
    std::vector<Op> ops;
    bool inside = false;
    for (const glrec::Call &c : glrec::calls) {
        if (c.op == Op::End)
            break;
        if (inside)
            ops.push_back(c.op);
        if (c.op == Op::Begin)
            inside = true;
    }
    return ops;
}

// --- Box -------------------------------------------------------------------

// Signs of the corners, face by face, as the box's layout has them.
const int CORNER_SIGNS[6][4][3] = {
    {{+1, +1, -1}, {-1, +1, -1}, {-1, -1, -1}, {+1, -1, -1}},
    {{-1, +1, +1}, {+1, +1, +1}, {+1, -1, +1}, {-1, -1, +1}},
    {{-1, +1, -1}, {-1, +1, +1}, {-1, -1, +1}, {-1, -1, -1}},
    {{+1, +1, +1}, {+1, +1, -1}, {+1, -1, -1}, {+1, -1, +1}},
    {{-1, -1, -1}, {-1, -1, +1}, {+1, -1, +1}, {+1, -1, -1}},
    {{-1, +1, +1}, {-1, +1, -1}, {+1, +1, -1}, {+1, +1, +1}},
};

float side(float c, int sign, float h) {
    return sign > 0 ? c + h : c - h;
}

TEST_F(Recorded, CubeEmitsSixFacesInOrderWithRepeatedTexture) {
    const float x = 1.5f, y = -2.25f, z = 0.3f, hx = 0.7f, hy = 4.1f, hz = 2.0f, r = 3.0f;
    drawCube(x, y, z, hx, hy, hz, r, 42);

    ASSERT_EQ(glrec::outline(), (Words{"bind 42", "quads", "end"}));
    ASSERT_EQ(glrec::primitives.size(), 1u);
    const auto &v = glrec::primitives[0].vertices;
    ASSERT_EQ(v.size(), 24u);
    const float texS[4] = {0, 0, r, r}, texT[4] = {0, r, r, 0};
    for (int f = 0; f < 6; f++) {
        for (int k = 0; k < 4; k++) {
            const glrec::Vertex &p = v[f * 4 + k];
            const int *sg = CORNER_SIGNS[f][k];
            EXPECT_EQ(p.x, side(x, sg[0], hx)) << "face " << f + 1 << " corner " << k + 1;
            EXPECT_EQ(p.y, side(y, sg[1], hy)) << "face " << f + 1 << " corner " << k + 1;
            EXPECT_EQ(p.z, side(z, sg[2], hz)) << "face " << f + 1 << " corner " << k + 1;
            EXPECT_EQ(p.s, texS[k]);
            EXPECT_EQ(p.t, texT[k]);
            EXPECT_EQ(p.texture, 42u);
        }
    }
    // Each face starts with the short-integer (0, 0), then float pairs.
    const std::vector<Op> face = {Op::TexCoord2sv, Op::Vertex3f, Op::TexCoord2f, Op::Vertex3f,
                                  Op::TexCoord2f,  Op::Vertex3f, Op::TexCoord2f, Op::Vertex3f};
    std::vector<Op> expected;
    for (int f = 0; f < 6; f++)
        expected.insert(expected.end(), face.begin(), face.end());
    EXPECT_EQ(opsInside(), expected);
}

TEST_F(Recorded, CaptionSizedCubeHasCornersAtTwoAndTextureTwiceAcross) {
    drawCube(0, 0, 0, 2, 2, 2, 2, 7);
    const auto &v = glrec::primitives.at(0).vertices;
    ASSERT_EQ(v.size(), 24u);
    const float cycle[4][2] = {{0, 0}, {0, 2}, {2, 2}, {2, 0}};
    for (size_t k = 0; k < v.size(); k++) {
        EXPECT_EQ(std::fabs(v[k].x), 2.0f);
        EXPECT_EQ(std::fabs(v[k].y), 2.0f);
        EXPECT_EQ(std::fabs(v[k].z), 2.0f);
        EXPECT_EQ(v[k].s, cycle[k % 4][0]);
        EXPECT_EQ(v[k].t, cycle[k % 4][1]);
    }
    // Nothing but the texture binding changes state.
    EXPECT_EQ(glrec::state.color[3], 255);
    EXPECT_TRUE(glrec::state.depthTest);
    EXPECT_FALSE(glrec::state.blend);
    EXPECT_EQ(glrec::state.matrixDepth, 0);
}

// --- Sphere ----------------------------------------------------------------

// Vertex k of the sphere's strip: band k / (2(n+1)), meridian j within it,
// the upper latitude first in each pair.
glrec::Vertex sphereVertex(float cx, float cy, float cz, float radius, int n, size_t k) {
    const int perBand = 2 * (n + 1);
    const int i = (int)(k / perBand);
    const int j = (int)(k % perBand) / 2;
    const int ring = (k % 2 == 0) ? i + 1 : i;
    const float lat = (float)ring * 6.28318f / (float)n - 1.570795f;
    const float lon = (float)j * 6.28318f / (float)n;
    glrec::Vertex v{};
    v.x = cx + refCos(lon) * refCos(lat) * radius;
    v.y = cy + refSin(lat) * radius;
    v.z = cz + refSin(lon) * refCos(lat) * radius;
    return v;
}

void expectSphere(float cx, float cy, float cz, float radius, int n, size_t count) {
    glrec::reset();
    drawSphere(cx, cy, cz, radius, n, 0);
    ASSERT_EQ(glrec::outline(), (Words{"bind 0", "quadStrip", "end"}));
    const auto &v = glrec::primitives.at(0).vertices;
    ASSERT_EQ(v.size(), count);
    int mismatches = 0;
    for (size_t k = 0; k < v.size(); k++) {
        const glrec::Vertex e = sphereVertex(cx, cy, cz, radius, n, k);
        if (v[k].x != e.x || v[k].y != e.y || v[k].z != e.z) {
            if (mismatches++ < 5)
                ADD_FAILURE() << "n " << n << " vertex " << k << ": (" << v[k].x << ", " << v[k].y
                              << ", " << v[k].z << ") expected (" << e.x << ", " << e.y << ", "
                              << e.z << ")";
        }
        const double dx = v[k].x - cx, dy = v[k].y - cy, dz = v[k].z - cz;
        EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), radius, radius * 1e-5);
    }
    EXPECT_EQ(mismatches, 0);
    // No texture coordinates: the sphere keeps whatever was current.
    for (const glrec::Call &c : glrec::calls)
        EXPECT_TRUE(c.op != Op::TexCoord2f && c.op != Op::TexCoord2sv);
}

TEST_F(Recorded, SphereStripsMatchTheLatitudeLongitudeGrid) {
    expectSphere(0, 0, 0, 5, 25, 624);
    expectSphere(0, 0, 0, 5, 75, 5624);
    expectSphere(1.5f, -2.0f, 0.25f, 3.3f, 24, 600);
}

TEST_F(Recorded, SphereWithOddSegmentsLeavesTheNorthCapOpen) {
    drawSphere(0, 0, 0, 5, 25, 0);
    float top = -10;
    for (const glrec::Vertex &p : glrec::primitives.at(0).vertices)
        top = std::fmax(top, p.y);
    // The last band ends near latitude 1.445, well short of the pole at 5.
    EXPECT_NEAR(top, 5 * std::sin(1.445), 0.01);
    EXPECT_LT(top, 4.97f);

    glrec::reset();
    drawSphere(0, 0, 0, 5, 24, 0);
    top = -10;
    for (const glrec::Vertex &p : glrec::primitives.at(0).vertices)
        top = std::fmax(top, p.y);
    EXPECT_NEAR(top, 5.0f, 1e-5);
}

TEST_F(Recorded, SphereBelowTwoSegmentsIsAnEmptyStrip) {
    for (int n : {1, 0, -3}) {
        glrec::reset();
        drawSphere(0, 0, 0, 5, n, 0);
        EXPECT_EQ(glrec::outline(), (Words{"bind 0", "quadStrip", "end"})) << "n " << n;
        EXPECT_EQ(glrec::vertexCount(), 0u) << "n " << n;
    }
}

// --- Tube ------------------------------------------------------------------

void expectTube(int N, int M, float radius, float spacing, float sRepeat, float tRepeat) {
    glrec::reset();
    drawTube(N, M, radius, spacing, sRepeat, tRepeat, 55);
    ASSERT_EQ(glrec::outline(), (Words{"bind 55", "triangleStrip", "end"}));
    const auto &v = glrec::primitives.at(0).vertices;
    const size_t bands = (size_t)(N / 2 + 1);
    ASSERT_EQ(v.size(), bands * (M + 1) * 2);
    const float half = (float)N * spacing * 0.5f;
    int mismatches = 0;
    for (size_t k = 0; k < v.size(); k++) {
        const int i = 2 * (int)(k / (2 * (M + 1)));
        const int j = (int)(k % (2 * (M + 1))) / 2;
        const float z = (float)(k % 2 == 0 ? i : i + 1) * spacing - half;
        const float angle = (float)j * (1.0f / (float)M * 6.28318f);
        const float x = refSin(angle) * radius, y = refCos(angle) * radius;
        const float s = 1.0f / (float)M * sRepeat * (float)j;
        const float t = (float)i / (float)(N + 1) * tRepeat;
        if (v[k].x != x || v[k].y != y || v[k].z != z || v[k].s != s || v[k].t != t) {
            if (mismatches++ < 5)
                ADD_FAILURE() << "vertex " << k << ": (" << v[k].x << ", " << v[k].y << ", "
                              << v[k].z << ") st (" << v[k].s << ", " << v[k].t << ")";
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(Recorded, TubeBandsMatchTheRingGrid) {
    expectTube(1000, 10, 5, 10, 100, 100);
    expectTube(7, 6, 2.5f, 3, 4, 2);
    expectTube(0, 3, 1, 1, 1, 1);
}

TEST_F(Recorded, ShowTubeRunsFromMinus5000To5010InSeparateBands) {
    drawTube(1000, 10, 5, 10, 100, 100, 9);
    const auto &v = glrec::primitives.at(0).vertices;
    ASSERT_EQ(v.size(), 11022u);
    const size_t perBand = 22;
    // First band, texture row 0.
    EXPECT_EQ(v[0].z, -5000.0f);
    EXPECT_EQ(v[1].z, -4990.0f);
    EXPECT_EQ(v[0].t, 0.0f);
    // Second band after a one-spacing gap, texture row 2 of 1001, times 100.
    EXPECT_EQ(v[perBand].z, -4980.0f);
    EXPECT_EQ(v[perBand + 1].z, -4970.0f);
    EXPECT_NEAR(v[perBand].t, 2.0 * 100 / 1001, 1e-5);
    // Last band.
    EXPECT_EQ(v[v.size() - 2].z, 5000.0f);
    EXPECT_EQ(v[v.size() - 1].z, 5010.0f);
    for (size_t k = 0; k < v.size(); k++) {
        EXPECT_EQ(v[k].s, 10.0f * (float)((k % perBand) / 2)) << k;
        EXPECT_EQ(v[k].t, v[k - k % perBand].t) << "one texture row per band, vertex " << k;
    }
    // The seam: angle 0 is the point (0, radius) of each ring, and both
    // vertices of a pair share x and y.
    EXPECT_EQ(v[0].x, 0.0f);
    EXPECT_EQ(v[0].y, 5.0f);
    for (size_t k = 0; k < v.size(); k += 2) {
        EXPECT_EQ(v[k].x, v[k + 1].x);
        EXPECT_EQ(v[k].y, v[k + 1].y);
        EXPECT_NEAR(std::hypot(v[k].x, v[k].y), 5.0, 1e-5);
    }
}

// --- Timeline --------------------------------------------------------------

const GLuint GLOW = 101, GREETING = 102, CLOSING = 103;

Words concat(std::initializer_list<Words> parts) {
    Words all;
    for (const Words &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Words scroller() {
    return {"translate", "bind 102", "quads", "end"};
}

Words flyIn() {
    Words w = {"fog+", "lookAt", "depth-", "blend+"};
    for (int alpha = 255; alpha > 0; alpha -= 51) {
        w.push_back("color 255 255 255 " + std::to_string(alpha));
        w.insert(w.end(), {"bind 101", "quads", "end", "bind 0", "quadStrip", "end"});
    }
    w.insert(w.end(), {"depth+", "blend-"});
    return w;
}

Words orbit() {
    return {"push", "identity", "fog-",      "lookAt", "bind 101", "quads",
            "end",  "bind 0",   "quadStrip", "end",    "pop"};
}

Words tunnel() {
    return {"lookAt", "fog+", "bind 101", "triangleStrip", "end", "push", "identity",
            "lookAt", "fog-", "bind 103", "quads",         "end", "pop"};
}

struct FrameCase {
    float t;
    Words outline;
    size_t vertices;
    bool fogAfter;
    GLubyte alphaAfter;
};

// Draws one frame the way the driver does: identity, then the script.
void drawShowFrame(float t) {
    glrec::clearRecording();
    glLoadIdentity();
    drawFrame(t);
}

const glrec::Call *findLookAt(size_t nth) {
    for (const glrec::Call &c : glrec::calls)
        if (c.op == Op::LookAt && nth-- == 0)
            return &c;
    return nullptr;
}

// The boundaries in the order the show reaches them, state carried along.
TEST_F(Recorded, TimelineDrawsTheRightScenesAtEachBoundary) {
    const float justBeforeOrbit = std::nextafter(14.7f, 0.0f);
    const std::vector<FrameCase> frames = {
        {0.0f, concat({scroller()}), 4, false, 255},
        {4.999f, concat({scroller()}), 4, false, 255},
        {5.0f, concat({flyIn()}), 3240, true, 51},
        {14.0f, concat({flyIn()}), 3240, true, 51},
        {justBeforeOrbit, concat({flyIn()}), 3240, true, 51},
        {14.7f, concat({flyIn(), orbit()}), 8888, false, 51},
        {19.999f, concat({flyIn(), orbit()}), 8888, false, 51},
        {20.0f, concat({tunnel()}), 11046, false, 51},
        {30.999f, concat({tunnel()}), 11046, false, 51},
    };
    for (const FrameCase &f : frames) {
        SCOPED_TRACE("t = " + std::to_string(f.t));
        drawShowFrame(f.t);
        Words expected = concat({{"identity"}, f.outline});
        EXPECT_EQ(glrec::outline(), expected);
        EXPECT_EQ(glrec::vertexCount(), f.vertices);
        // What the frame leaves for the next one.
        EXPECT_EQ(glrec::state.fog, f.fogAfter);
        EXPECT_TRUE(glrec::state.depthTest);
        EXPECT_FALSE(glrec::state.blend);
        EXPECT_TRUE(glrec::state.texturing);
        EXPECT_EQ(glrec::state.color[0], 255);
        EXPECT_EQ(glrec::state.color[1], 255);
        EXPECT_EQ(glrec::state.color[2], 255);
        EXPECT_EQ(glrec::state.color[3], f.alphaAfter);
        EXPECT_EQ(glrec::state.matrixDepth, 0);
    }
}

TEST_F(Recorded, ScrollerQuadZoomsTheGreetingTowardTheLowerLeftCorner) {
    for (float t : {0.0f, 1.0f, 2.5f, 4.999f}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        drawShowFrame(t);
        const float u = t * 0.2f;
        const float v = u * u * u * -11.0f + u * u * 12.0f + u * -6.0f + 5.0f;
        ASSERT_EQ(glrec::calls.size(), 13u);
        const glrec::Call &move = glrec::calls[1];
        EXPECT_EQ(move.op, Op::Translatef);
        EXPECT_EQ(move.a[0], -1.0);
        EXPECT_EQ(move.a[1], -1.0);
        EXPECT_EQ(move.a[2], -1.0);
        const std::vector<Op> ops = {Op::TexCoord2f,  Op::Vertex2s, Op::TexCoord2f, Op::Vertex2s,
                                     Op::TexCoord2sv, Op::Vertex2s, Op::TexCoord2f, Op::Vertex2s};
        EXPECT_EQ(opsInside(), ops);
        const auto &q = glrec::primitives.at(0).vertices;
        ASSERT_EQ(q.size(), 4u);
        const float corners[4][4] = {{3, 2, v, v}, {3, 0, v, 0}, {-1, 0, 0, 0}, {-1, 2, 0, v}};
        for (int k = 0; k < 4; k++) {
            EXPECT_EQ(q[k].x, corners[k][0]);
            EXPECT_EQ(q[k].y, corners[k][1]);
            EXPECT_EQ(q[k].z, 0.0f);
            EXPECT_EQ(q[k].s, corners[k][2]);
            EXPECT_EQ(q[k].t, corners[k][3]);
            EXPECT_EQ(q[k].texture, GREETING);
            EXPECT_FALSE(q[k].fog);
            EXPECT_FALSE(q[k].blend);
            EXPECT_TRUE(q[k].depthTest);
        }
    }
    // The zoom curve's landmarks: 5 repeats at the start, falling through
    // 4.192 and 3.625 toward 0.
    drawShowFrame(0.0f);
    EXPECT_EQ(glrec::primitives.at(0).vertices[0].s, 5.0f);
    drawShowFrame(1.0f);
    EXPECT_NEAR(glrec::primitives.at(0).vertices[0].s, 4.192f, 1e-5);
    drawShowFrame(2.5f);
    EXPECT_NEAR(glrec::primitives.at(0).vertices[0].s, 3.625f, 1e-5);
    drawShowFrame(4.999f);
    EXPECT_NEAR(glrec::primitives.at(0).vertices[0].s, 0.0f, 0.005);
}

TEST_F(Recorded, FlyInPassesAddFadingCopiesOfTheSameGeometry) {
    drawShowFrame(4.0f); // the scroller runs first, white and fog-free
    for (float t : {5.0f, 12.5f, 14.0f, 19.999f}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        drawShowFrame(t);
        const glrec::Call *eye = findLookAt(0);
        ASSERT_NE(eye, nullptr);
        const float w = (t - 5.0f) * 0.06666667f;
        const float d = w * w * w * 20.0f + w * w * -30.0f + w * 20.0f - 10.0f;
        const double expected[9] = {0, 0, d, 0, 0, 0, 0, 1, 0};
        for (int k = 0; k < 9; k++)
            EXPECT_EQ(eye->a[k], expected[k]) << "lookAt argument " << k;

        ASSERT_EQ(glrec::primitives.size(), t < 14.7f ? 10u : 12u);
        const auto &cube = glrec::primitives[0].vertices;
        const auto &sphere = glrec::primitives[1].vertices;
        for (int pass = 0; pass < 5; pass++) {
            const auto &c = glrec::primitives[2 * pass].vertices;
            const auto &s = glrec::primitives[2 * pass + 1].vertices;
            ASSERT_EQ(c.size(), 24u);
            ASSERT_EQ(s.size(), 624u);
            for (const auto *mesh : {&c, &s}) {
                const auto &first = mesh == &c ? cube : sphere;
                for (size_t k = 0; k < mesh->size(); k++) {
                    const glrec::Vertex &p = (*mesh)[k];
                    EXPECT_EQ(p.x, first[k].x);
                    EXPECT_EQ(p.y, first[k].y);
                    EXPECT_EQ(p.z, first[k].z);
                    EXPECT_EQ(p.color[3], 255 - 51 * pass);
                    EXPECT_TRUE(p.fog && p.blend && !p.depthTest);
                }
            }
            EXPECT_EQ(c[0].texture, GLOW);
            EXPECT_EQ(c[0].x, 4.1f);
            EXPECT_EQ(s[0].texture, 0u);
        }
    }
    drawShowFrame(5.0f);
    EXPECT_EQ(findLookAt(0)->a[2], -10.0);
    drawShowFrame(12.5f);
    EXPECT_NEAR(findLookAt(0)->a[2], -5.0, 1e-5);
}

TEST_F(Recorded, OrbitCircles11AroundTheOpaqueObjects) {
    for (float t : {14.7f, 16.0f, 17.3f, 19.999f}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        drawShowFrame(t);
        const glrec::Call *eye = findLookAt(1);
        ASSERT_NE(eye, nullptr);
        // The float sine and cosine, scaled by 11 in double precision.
        const float s = refSin(t), c = refCos(t);
        const double expected[9] = {11.0 * s, s, 11.0 * c, 0, 0, 0, 0, 1, 0};
        for (int k = 0; k < 9; k++)
            EXPECT_EQ(eye->a[k], expected[k]) << "lookAt argument " << k;
        ASSERT_EQ(glrec::primitives.size(), 12u);
        const auto &cube = glrec::primitives[10].vertices;
        const auto &sphere = glrec::primitives[11].vertices;
        EXPECT_EQ(cube.size(), 24u);
        EXPECT_EQ(sphere.size(), 5624u);
        EXPECT_EQ(cube[0].texture, GLOW);
        EXPECT_EQ(sphere[0].texture, 0u);
        for (const auto *mesh : {&cube, &sphere})
            for (const glrec::Vertex &p : *mesh) {
                EXPECT_TRUE(!p.fog && !p.blend && p.depthTest);
                EXPECT_EQ(p.color[3], 51);
            }
    }
}

TEST_F(Recorded, TunnelFliesDownTheTubeWithTheRolledCaptionCube) {
    for (float t : {20.0f, 25.0f, 30.999f}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        drawShowFrame(t);
        const float p = t * 0.02f;
        const float z = p * p * p * 6000.0f + p * p * -16000.0f + p * 15000.0f;
        const glrec::Call *tube = findLookAt(0);
        const glrec::Call *caption = findLookAt(1);
        ASSERT_NE(tube, nullptr);
        ASSERT_NE(caption, nullptr);
        const double tubeEye[9] = {0, 0, z, 0, 0, (double)z + 1.0, 0, 1, 0};
        const float s = refSin(t), c = refCos(t);
        const double captionEye[9] = {5.0 * s, s, 5.0 * c, 0, 0, 0, -1, 1, 0};
        for (int k = 0; k < 9; k++) {
            EXPECT_EQ(tube->a[k], tubeEye[k]) << "tube lookAt argument " << k;
            EXPECT_EQ(caption->a[k], captionEye[k]) << "caption lookAt argument " << k;
        }
        // The eye stays inside the tube, in the range the curve promises.
        EXPECT_GT(z, 3800.0f);
        EXPECT_LT(z, 4580.0f);

        ASSERT_EQ(glrec::primitives.size(), 2u);
        for (const glrec::Vertex &q : glrec::primitives[0].vertices)
            EXPECT_TRUE(q.fog && q.depthTest && !q.blend && q.texture == GLOW);
        for (const glrec::Vertex &q : glrec::primitives[1].vertices)
            EXPECT_TRUE(!q.fog && q.depthTest && !q.blend && q.texture == CLOSING);
        EXPECT_EQ(glrec::primitives[1].vertices[1].t, 2.0f);
    }
    drawShowFrame(20.0f);
    EXPECT_NEAR(findLookAt(0)->a[2], 3824.0, 0.5);
    drawShowFrame(25.0f);
    EXPECT_NEAR(findLookAt(0)->a[2], 4250.0, 0.01);
}

} // namespace
