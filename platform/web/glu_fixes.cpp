// GLU calls that Emscripten's emulation lacks or gets wrong, defined as the
// GLU reference implementation (Mesa's libGLU) computes them.
//
// gluLookAt there hands its vectors to the matrix code in the wrong order
// and replaces the current matrix instead of multiplying it; here it is the
// viewing rotation multiplied on, then the eye moved to the origin.
// gluBuild2DMipmaps is missing: the chain is made by averaging each 2x2 block
// of bytes, rounded, as GLU's halving does, down to 1x1. Only power-of-two
// sizes are taken, which WebGL 1 can mipmap at all; others return
// GLU_INVALID_VALUE rather than being scaled.
#include <GL/gl.h>
#include <GL/glu.h>
#include <cmath>
#include <vector>

namespace {

void normalize(float v[3]) {
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length == 0.0f)
        return;
    v[0] /= length;
    v[1] /= length;
    v[2] /= length;
}

void cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

bool powerOfTwo(GLint n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// Halves one or both sides; where a side is already 1 it stays 1 and each
// texel is averaged with itself along it (the last levels of a non-square
// chain; the show's images are square).
void halve(const GLubyte *from, GLint width, GLint height, int components, GLubyte *to) {
    GLint newWidth = width > 1 ? width / 2 : 1;
    GLint newHeight = height > 1 ? height / 2 : 1;
    GLint dx = width > 1 ? components : 0;
    GLint dy = height > 1 ? width * components : 0;
    for (GLint y = 0; y < newHeight; y++)
        for (GLint x = 0; x < newWidth; x++) {
            const GLubyte *t =
                from + ((height > 1 ? 2 * y : y) * width + (width > 1 ? 2 * x : x)) * components;
            GLubyte *s = to + (y * newWidth + x) * components;
            for (int c = 0; c < components; c++)
                s[c] =
                    static_cast<GLubyte>((t[c] + t[c + dx] + t[c + dy] + t[c + dx + dy] + 2) / 4);
        }
}

int componentsOf(GLenum format) {
    switch (format) {
    case GL_RGBA:
        return 4;
    case GL_RGB:
        return 3;
    case GL_LUMINANCE_ALPHA:
        return 2;
    case GL_LUMINANCE:
    case GL_ALPHA:
        return 1;
    default:
        return 0;
    }
}

} // namespace

extern "C" {

void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
               GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ) {
    float forward[3] = {static_cast<float>(centerX - eyeX), static_cast<float>(centerY - eyeY),
                        static_cast<float>(centerZ - eyeZ)};
    float up[3] = {static_cast<float>(upX), static_cast<float>(upY), static_cast<float>(upZ)};
    float side[3];
    normalize(forward);
    cross(forward, up, side);
    normalize(side);
    cross(side, forward, up);
    // Column-major, rows side, up and -forward.
    GLfloat m[16] = {side[0], up[0], -forward[0], 0.0f, side[1], up[1], -forward[1], 0.0f,
                     side[2], up[2], -forward[2], 0.0f, 0.0f,    0.0f,  0.0f,        1.0f};
    glMultMatrixf(m);
    glTranslated(-eyeX, -eyeY, -eyeZ);
}

GLint gluBuild2DMipmaps(GLenum target, GLint, GLsizei width, GLsizei height, GLenum format,
                        GLenum type, const void *data) {
    int components = componentsOf(format);
    if (width < 1 || height < 1)
        return GLU_INVALID_VALUE;
    if (components == 0 || type != GL_UNSIGNED_BYTE)
        return GLU_INVALID_ENUM;
    if (!powerOfTwo(width) || !powerOfTwo(height))
        return GLU_INVALID_VALUE;
    // WebGL takes only an internal format equal to the format.
    glTexImage2D(target, 0, static_cast<GLint>(format), width, height, 0, format, type, data);
    std::vector<GLubyte> level(static_cast<const GLubyte *>(data),
                               static_cast<const GLubyte *>(data) + width * height * components);
    std::vector<GLubyte> next;
    for (GLint n = 1; width > 1 || height > 1; n++) {
        GLint newWidth = width > 1 ? width / 2 : 1;
        GLint newHeight = height > 1 ? height / 2 : 1;
        next.resize(static_cast<size_t>(newWidth) * newHeight * components);
        halve(level.data(), width, height, components, next.data());
        glTexImage2D(target, n, static_cast<GLint>(format), newWidth, newHeight, 0, format, type,
                     next.data());
        level.swap(next);
        width = newWidth;
        height = newHeight;
    }
    return 0;
}
}
