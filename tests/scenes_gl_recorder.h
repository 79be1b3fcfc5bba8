// A stand-in for the few GL and GLU entry points the show's geometry and
// script call. Linked instead of libGL, it keeps what each call did, plus
// the enable, colour, texture and matrix-stack state those calls imply, so a
// test can check the exact stream a frame emits.
#pragma once

#include <GL/gl.h>
#include <string>
#include <vector>

namespace glrec {

enum class Op {
    Begin,
    End,
    Vertex3f,
    Vertex2s,
    TexCoord2f,
    TexCoord2sv,
    BindTexture,
    Color4ub,
    Enable,
    Disable,
    PushMatrix,
    PopMatrix,
    LoadIdentity,
    Translatef,
    LookAt,
};

struct Call {
    Op op;
    unsigned value; // mode, capability or texture name
    double a[9];    // numeric arguments as passed (floats widened exactly)
};

struct Vertex {
    float x, y, z;
    float s, t;     // current texture coordinate when the vertex was given
    GLuint texture; // bound texture
    GLubyte color[4];
    bool fog, depthTest, blend, texturing;
};

struct Primitive {
    GLenum mode;
    std::vector<Vertex> vertices;
};

struct State {
    bool fog, depthTest, blend, texturing;
    GLubyte color[4];
    float s, t;
    GLuint texture;
    int matrixDepth;
};

extern std::vector<Call> calls;
extern std::vector<Primitive> primitives;
extern State state;
// Misuse seen: a call other than vertex/texcoord/colour inside begin/end,
// nested begin, end without begin, or a pop below the bottom of the stack.
extern int errors;
// When false the entry points do nothing at all (for timing the CPU side).
extern bool recording;

// The state the show's set-up leaves: texturing and depth test on, blend and
// fog off, white, texture 0; forgets everything recorded.
void reset();
// Forgets the recorded calls and primitives but keeps the state, as the GL
// context keeps it from one frame to the next.
void clearRecording();

// The recorded calls other than vertices and texture coordinates, one word
// each ("fog+", "blend-", "bind 2", "quads", "end", "push", "pop",
// "identity", "translate", "lookAt", "color 255 255 255 51").
std::vector<std::string> outline();

// All vertices of all primitives.
size_t vertexCount();

} // namespace glrec
