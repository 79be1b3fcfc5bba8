// OpenGL 1.1 calls that Emscripten's fixed-function emulation lacks or gets
// wrong, defined here over the calls it does right. Each gives what Mesa
// gives for the same arguments (tests/web_e2e.py holds them to it).
//
// glVertex2s and glTexCoord2sv are missing: shorts are whole numbers, which a
// float holds exactly. glFogiv maps integer colours as if -1..1 were 0..1, so
// black comes out mid-grey; OpenGL maps the full integer range linearly onto
// -1..1, 0 becoming (nearly) 0, and takes every other fog value as it is.
#include <GL/gl.h>

extern "C" {

void glVertex2s(GLshort x, GLshort y) {
    glVertex3f(x, y, 0.0f);
}

void glTexCoord2sv(const GLshort *v) {
    glTexCoord2f(v[0], v[1]);
}

void glFogiv(GLenum pname, const GLint *params) {
    if (pname != GL_FOG_COLOR) {
        glFogf(pname, static_cast<GLfloat>(params[0]));
        return;
    }
    GLfloat colour[4];
    for (int i = 0; i < 4; i++)
        colour[i] = static_cast<GLfloat>((2.0 * params[i] + 1.0) / 4294967295.0);
    glFogfv(GL_FOG_COLOR, colour);
}
}
