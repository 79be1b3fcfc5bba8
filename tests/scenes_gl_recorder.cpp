#include "tests/scenes_gl_recorder.h"

#include <GL/glu.h>
#include <cstdio>

// The texture names the script looks up; distinct from 0 and from each other
// so a test can tell which slot was bound.
GLuint textureNames[3] = {101, 102, 103};

namespace glrec {

std::vector<Call> calls;
std::vector<Primitive> primitives;
State state;
int errors;
bool recording = true;
static bool inBegin;

void reset() {
    state = State{false, true, false, true, {255, 255, 255, 255}, 0.0f, 0.0f, 0, 0};
    errors = 0;
    inBegin = false;
    clearRecording();
}

void clearRecording() {
    calls.clear();
    primitives.clear();
}

static void record(Op op, unsigned value = 0, double a0 = 0, double a1 = 0, double a2 = 0,
                   double a3 = 0, double a4 = 0, double a5 = 0, double a6 = 0, double a7 = 0,
                   double a8 = 0) {
    calls.push_back(Call{op, value, {a0, a1, a2, a3, a4, a5, a6, a7, a8}});
}

// Only vertex data may be given between begin and end.
static void outsideBegin() {
    if (inBegin)
        errors++;
}

static void vertex(float x, float y, float z) {
    if (!inBegin) {
        errors++;
        return;
    }
    Vertex v{x,
             y,
             z,
             state.s,
             state.t,
             state.texture,
             {state.color[0], state.color[1], state.color[2], state.color[3]},
             state.fog,
             state.depthTest,
             state.blend,
             state.texturing};
    primitives.back().vertices.push_back(v);
}

static bool *capability(GLenum cap) {
    switch (cap) {
    case GL_FOG:
        return &state.fog;
    case GL_DEPTH_TEST:
        return &state.depthTest;
    case GL_BLEND:
        return &state.blend;
    case GL_TEXTURE_2D:
        return &state.texturing;
    }
    return nullptr;
}

static const char *capabilityName(unsigned cap) {
    switch (cap) {
    case GL_FOG:
        return "fog";
    case GL_DEPTH_TEST:
        return "depth";
    case GL_BLEND:
        return "blend";
    case GL_TEXTURE_2D:
        return "texture";
    }
    return "other";
}

static const char *modeName(unsigned mode) {
    switch (mode) {
    case GL_QUADS:
        return "quads";
    case GL_QUAD_STRIP:
        return "quadStrip";
    case GL_TRIANGLE_STRIP:
        return "triangleStrip";
    }
    return "otherMode";
}

std::vector<std::string> outline() {
    std::vector<std::string> words;
    char text[64];
    for (const Call &c : calls) {
        switch (c.op) {
        case Op::Begin:
            words.push_back(modeName(c.value));
            break;
        case Op::End:
            words.push_back("end");
            break;
        case Op::BindTexture:
            std::snprintf(text, sizeof text, "bind %u", c.value);
            words.push_back(text);
            break;
        case Op::Color4ub:
            std::snprintf(text, sizeof text, "color %g %g %g %g", c.a[0], c.a[1], c.a[2], c.a[3]);
            words.push_back(text);
            break;
        case Op::Enable:
            words.push_back(std::string(capabilityName(c.value)) + "+");
            break;
        case Op::Disable:
            words.push_back(std::string(capabilityName(c.value)) + "-");
            break;
        case Op::PushMatrix:
            words.push_back("push");
            break;
        case Op::PopMatrix:
            words.push_back("pop");
            break;
        case Op::LoadIdentity:
            words.push_back("identity");
            break;
        case Op::Translatef:
            words.push_back("translate");
            break;
        case Op::LookAt:
            words.push_back("lookAt");
            break;
        default:
            break;
        }
    }
    return words;
}

size_t vertexCount() {
    size_t n = 0;
    for (const Primitive &p : primitives)
        n += p.vertices.size();
    return n;
}

} // namespace glrec

using namespace glrec;

extern "C" {

void glBegin(GLenum mode) {
    if (!recording)
        return;
    outsideBegin();
    inBegin = true;
    record(Op::Begin, mode);
    primitives.push_back(Primitive{mode, {}});
}

void glEnd() {
    if (!recording)
        return;
    if (!inBegin)
        errors++;
    inBegin = false;
    record(Op::End);
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (!recording)
        return;
    record(Op::Vertex3f, 0, x, y, z);
    vertex(x, y, z);
}

void glVertex2s(GLshort x, GLshort y) {
    if (!recording)
        return;
    record(Op::Vertex2s, 0, x, y);
    vertex(x, y, 0.0f);
}

void glTexCoord2f(GLfloat s, GLfloat t) {
    if (!recording)
        return;
    record(Op::TexCoord2f, 0, s, t);
    state.s = s;
    state.t = t;
}

void glTexCoord2sv(const GLshort *v) {
    if (!recording)
        return;
    record(Op::TexCoord2sv, 0, v[0], v[1]);
    state.s = v[0];
    state.t = v[1];
}

void glColor4ub(GLubyte r, GLubyte g, GLubyte b, GLubyte a) {
    if (!recording)
        return;
    record(Op::Color4ub, 0, r, g, b, a);
    state.color[0] = r;
    state.color[1] = g;
    state.color[2] = b;
    state.color[3] = a;
}

void glBindTexture(GLenum target, GLuint texture) {
    if (!recording)
        return;
    outsideBegin();
    if (target != GL_TEXTURE_2D)
        errors++;
    record(Op::BindTexture, texture);
    state.texture = texture;
}

void glEnable(GLenum cap) {
    if (!recording)
        return;
    outsideBegin();
    record(Op::Enable, cap);
    if (bool *flag = capability(cap))
        *flag = true;
}

void glDisable(GLenum cap) {
    if (!recording)
        return;
    outsideBegin();
    record(Op::Disable, cap);
    if (bool *flag = capability(cap))
        *flag = false;
}

void glPushMatrix() {
    if (!recording)
        return;
    outsideBegin();
    record(Op::PushMatrix);
    state.matrixDepth++;
}

void glPopMatrix() {
    if (!recording)
        return;
    outsideBegin();
    record(Op::PopMatrix);
    if (--state.matrixDepth < 0)
        errors++;
}

void glLoadIdentity() {
    if (!recording)
        return;
    outsideBegin();
    record(Op::LoadIdentity);
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    if (!recording)
        return;
    outsideBegin();
    record(Op::Translatef, 0, x, y, z);
}

void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
               GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ) {
    if (!recording)
        return;
    outsideBegin();
    record(Op::LookAt, 0, eyeX, eyeY, eyeZ, centerX, centerY, centerZ, upX, upY, upZ);
}

} // extern "C"
