#include "visuals/scenes.h"

#include "visuals/primitives.h"
#include "visuals/textures.h"

#include <GL/glu.h>

// Scene boundaries in demo seconds. The orbit starts at the float nearest
// 14.7 (14.699999809...), so a 14,700 ms tick is its first frame.
static const float SCROLLER_END = 5.0f;
static const float FLY_IN_END = 20.0f;
static const float ORBIT_START = 14.7f;

static const GLshort ORIGIN_TEXCOORD[2] = {0, 0};

// The greeting repeated v times over a quad that fills the view's height,
// zooming in toward its lower-left corner as v falls from 5 to 0.
static void drawScroller(float t) {
    const float u = t * 0.2f;
    const float v = u * u * u * -11.0f + u * u * 12.0f + u * -6.0f + 5.0f;
    glTranslatef(-1.0f, -1.0f, -1.0f);
    glBindTexture(GL_TEXTURE_2D, textureNames[SLOT_GREETING]);
    glBegin(GL_QUADS);
    glTexCoord2f(v, v);
    glVertex2s(3, 2);
    glTexCoord2f(v, 0.0f);
    glVertex2s(3, 0);
    glTexCoord2sv(ORIGIN_TEXCOORD);
    glVertex2s(-1, 0);
    glTexCoord2f(0.0f, v);
    glVertex2s(-1, 2);
    glEnd();
}

// Five additive passes of the glow box and a coarse sphere, fading in alpha,
// seen from the z axis as the camera eases in through the fog. Fog stays on
// for whatever follows until a scene turns it off.
static void drawFlyIn(float t) {
    glEnable(GL_FOG);
    const float w = (t - 5.0f) * 0.06666667f;
    const float d = w * w * w * 20.0f + w * w * -30.0f + w * 20.0f - 10.0f;
    gluLookAt(0.0, 0.0, d, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    for (int alpha = 255; alpha > 0; alpha -= 51) {
        glColor4ub(255, 255, 255, (GLubyte)alpha);
        drawCube(0.0f, 0.0f, 0.0f, 4.1f, 4.1f, 4.1f, 1.0f, textureNames[SLOT_GLOW]);
        drawSphere(0.0f, 0.0f, 0.0f, 5.0f, 25, 0);
    }
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
}

// The same objects opaque, over the fly-in, from a camera circling at radius
// 11. The colour is whatever the fly-in left; with blending off its alpha
// does not show.
static void drawOrbit(float t) {
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_FOG);
    const float s = floatSin(t), c = floatCos(t);
    gluLookAt(11.0 * s, s, 11.0 * c, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    drawCube(0.0f, 0.0f, 0.0f, 4.1f, 4.1f, 4.1f, 1.0f, textureNames[SLOT_GLOW]);
    drawSphere(0.0f, 0.0f, 0.0f, 5.0f, 75, 0);
    glPopMatrix();
}

// Flight down the banded tube in fog, then the closing word on a cube seen
// from a circling camera rolled by the (-1, 1, 0) up vector. The cube is
// depth-tested against the tube's depths, which are not cleared between.
static void drawTunnel(float t) {
    const float p = t * 0.02f;
    const float z = p * p * p * 6000.0f + p * p * -16000.0f + p * 15000.0f;
    gluLookAt(0.0, 0.0, z, 0.0, 0.0, (double)z + 1.0, 0.0, 1.0, 0.0);
    glEnable(GL_FOG);
    drawTube(1000, 10, 5.0f, 10.0f, 100.0f, 100.0f, textureNames[SLOT_GLOW]);
    glPushMatrix();
    glLoadIdentity();
    const float s = floatSin(t), c = floatCos(t);
    gluLookAt(5.0 * s, s, 5.0 * c, 0.0, 0.0, 0.0, -1.0, 1.0, 0.0);
    glDisable(GL_FOG);
    drawCube(0.0f, 0.0f, 0.0f, 2.0f, 2.0f, 2.0f, 2.0f, textureNames[SLOT_CLOSING]);
    glPopMatrix();
}

void drawFrame(float t) {
    if (t < SCROLLER_END)
        drawScroller(t);
    else if (t < FLY_IN_END)
        drawFlyIn(t);

    if (t >= ORBIT_START && t < FLY_IN_END)
        drawOrbit(t);
    else if (t >= FLY_IN_END)
        drawTunnel(t);
}
