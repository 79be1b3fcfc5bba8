// The GL and GLU calls the web backend defines itself, drawn the same way on
// Mesa (native, headless) and in the browser (tests/web/gl_calls.html), one
// row each: tests/web_e2e.py holds the browser's pictures and values to
// Mesa's. Prints "NAME cells R G B ..." (the mean colour of each 40x40 cell of
// an 800x600 picture) or "NAME values ..." per row, then "end".
#include "platform/platform.h"
#include "visuals/primitives.h"
#include "visuals/scenes.h"
#include "visuals/textures.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <climits>
#include <cstdio>
#include <vector>

namespace {

constexpr int W = 800, H = 600, CELL = 40; // the show's own size
GLuint texture;

std::vector<unsigned char> pattern(int size) {
    // A checkerboard of 4-texel squares in two colours: each mipmap level's
    // average shows.
    std::vector<unsigned char> p(size * size * 4);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            unsigned char *t = &p[(y * size + x) * 4];
            bool on = ((x / 4) + (y / 4)) % 2;
            t[0] = on ? 250 : 10;
            t[1] = on ? 120 : 200;
            t[2] = static_cast<unsigned char>(x);
            t[3] = 255;
        }
    return p;
}

void printCells(const char *name) {
    std::vector<unsigned char> rgba(W * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::printf("%s cells", name);
    for (int cy = 0; cy < H / CELL; cy++)
        for (int cx = 0; cx < W / CELL; cx++)
            for (int c = 0; c < 3; c++) {
                unsigned sum = 0;
                for (int y = 0; y < CELL; y++)
                    for (int x = 0; x < CELL; x++)
                        sum += rgba[((cy * CELL + y) * W + cx * CELL + x) * 4 + c];
                std::printf(" %u", (sum + CELL * CELL / 2) / (CELL * CELL));
            }
    std::printf("\n");
}

void printValues(const char *name, const float *v, int n) {
    std::printf("%s values", name);
    for (int i = 0; i < n; i++)
        std::printf(" %.6g", v[i]);
    std::printf("\n");
}

void start() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void quad(float z, float tex) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, z);
    glTexCoord2f(tex, 0);
    glVertex3f(1, -1, z);
    glTexCoord2f(tex, tex);
    glVertex3f(1, 1, z);
    glTexCoord2f(0, tex);
    glVertex3f(-1, 1, z);
    glEnd();
}

void vertex2s() {
    start();
    glDisable(GL_TEXTURE_2D);
    glTranslatef(0, 0, -40);
    // The colour outside the block, as the show sets it: the emulation takes
    // a colour inside only if every vertex of the block has one.
    glColor4ub(200, 60, 30, 255);
    glBegin(GL_QUADS);
    glVertex2s(-30, -20);
    glVertex2s(10, -25);
    glVertex2s(25, 15);
    glVertex2s(-5, 28);
    glEnd();
    glColor4ub(255, 255, 255, 255);
    glEnable(GL_TEXTURE_2D);
    printCells("vertex2s");
}

void texCoord2sv() {
    static const GLshort corners[4][2] = {{0, 0}, {3, 0}, {3, 2}, {0, 2}};
    start();
    glTranslatef(0, 0, -2.5f);
    glBegin(GL_QUADS);
    glTexCoord2sv(corners[0]);
    glVertex3f(-1, -1, 0);
    glTexCoord2sv(corners[1]);
    glVertex3f(1, -1, 0);
    glTexCoord2sv(corners[2]);
    glVertex3f(1, 1, 0);
    glTexCoord2sv(corners[3]);
    glVertex3f(-1, 1, 0);
    glEnd();
    printCells("texcoord2sv");
}

void mipmaps() {
    // Far and tilted: the small levels are sampled and blended.
    start();
    glTranslatef(0, 0, -6);
    glRotatef(70, 1, 0, 0);
    quad(0, 4);
    printCells("build2dmipmaps");
}

void lookAt() {
    start();
    glTranslatef(0.5f, -0.25f, 0);
    gluLookAt(3, 2, 4, 0.5, 0, -1, 0, 1, 0.2);
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    printValues("lookat_matrix", m, 16);
    quad(0, 1);
    printCells("lookat");
}

void fogiv() {
    static const GLint BLACK[4] = {0, 0, 0, 0};
    static const GLint SOME[4] = {INT_MAX, 0, INT_MAX / 2, INT_MAX};
    float colour[4];
    glFogiv(GL_FOG_COLOR, SOME);
    glGetFloatv(GL_FOG_COLOR, colour);
    printValues("fogiv_colour", colour, 4);
    glFogiv(GL_FOG_COLOR, BLACK);
    glGetFloatv(GL_FOG_COLOR, colour);
    printValues("fogiv_black", colour, 4);
    GLint density = 1;
    glFogiv(GL_FOG_DENSITY, &density);
    glEnable(GL_FOG);
    start();
    glTranslatef(0, 0, -1.5f);
    glRotatef(60, 0, 1, 0);
    quad(0, 1);
    glDisable(GL_FOG);
    printCells("fogiv");
}

void quadStrip() {
    start();
    glTranslatef(0, 0, -3);
    glRotatef(35, 1, 1, 0);
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= 6; i++) {
        float x = -1.5f + i * 0.5f;
        glTexCoord2f(i * 0.25f, 0);
        glVertex3f(x, -0.8f, (i % 2) * 0.3f);
        glTexCoord2f(i * 0.25f, 1);
        glVertex3f(x, 0.8f, (i % 2) * 0.3f);
    }
    glEnd();
    printCells("quad_strip");
}

void untexturedStrip() {
    // As the show draws its spheres: a textured quad, then texture 0 bound and
    // a strip with no texture coordinates, which OpenGL draws untextured.
    start();
    glTranslatef(-0.5f, 0, -3);
    quad(0, 1);
    glBindTexture(GL_TEXTURE_2D, 0);
    glColor4ub(230, 200, 90, 255);
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= 4; i++) {
        glVertex3f(i * 0.5f, 0.9f, 0.5f);
        glVertex3f(i * 0.5f, -0.9f, 0.5f);
    }
    glEnd();
    glColor4ub(255, 255, 255, 255);
    glBindTexture(GL_TEXTURE_2D, texture);
    printCells("untextured_strip");
}

void showSphere() {
    // The show's own cube and sphere, as its orbit draws them.
    start();
    gluLookAt(3, 1, 11, 0, 0, 0, 0, 1, 0);
    glColor4ub(255, 255, 255, 51);
    drawCube(0, 0, 0, 4.1f, 4.1f, 4.1f, 1, texture);
    drawSphere(0, 0, 0, 5, 25, 0);
    glColor4ub(255, 255, 255, 255);
    printCells("show_sphere");
}

// The show's fly-in and orbit: spheres drawn with texture 0 bound, which
// OpenGL draws untextured and the emulation alone would draw black.
void showFrame() {
    makeGlowTexture();
    uploadTextures();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glFogi(GL_FOG_DENSITY, 1);
    // A scroller frame first, as the show draws one before: it leaves the
    // state the later frames start from.
    start();
    drawFrame(1.0f);
    start();
    drawFrame(17.3f);
    printCells("show_frame");
}

void pushPopAttrib() {
    // State pushed, then changed in every way a scene changes it, then popped:
    // the quad must come out as drawn with the pushed state.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_FOG);
    glColor4ub(255, 160, 60, 160);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_FOG);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glColor4ub(10, 10, 10, 255);
    glFogf(GL_FOG_DENSITY, 0.01f);
    glPopAttrib();
    start();
    glTranslatef(0, 0, -2);
    quad(0, 1);
    glTranslatef(0.3f, 0.2f, -0.5f);
    quad(0, 1);
    glDisable(GL_BLEND);
    glDisable(GL_FOG);
    glColor4ub(255, 255, 255, 255);
    printCells("push_pop_attrib");
}

} // namespace

int main() {
    platformStart("gl_calls");
#ifndef __EMSCRIPTEN__
    platformRequestHeadless();
    platformSetHeadlessSize(W, H);
#endif
    if (!platformOpenDisplay(W, H)) {
        platformSay("%s", platformError());
        platformExit(1);
    }
    // The show's own fixed state, then one texture made by the call under test.
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90.0, 4.0 / 3.0, 0.1, 1500.0);
    glMatrixMode(GL_MODELVIEW);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    std::vector<unsigned char> image = pattern(64);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, image.data());

    showFrame();
    vertex2s();
    texCoord2sv();
    mipmaps();
    lookAt();
    fogiv();
    quadStrip();
    untexturedStrip();
    showSphere();
    pushPopAttrib();
    std::printf("end\n");
    std::fflush(stdout);
    platformExit(0);
}
