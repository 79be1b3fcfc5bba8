#include "show/display.h"

#include "platform/platform.h"

#include <GL/gl.h>
#include <GL/glu.h>

// Aspect and near plane are single-precision values widened for GLU.
static const float ASPECT = 4.0f / 3.0f;
static const float NEAR_PLANE = 0.1f;

static const GLint FOG_BLACK[4] = {0, 0, 0, 0};

bool setupDisplay() {
    if (!platformOpenDisplay(SCREEN_WIDTH, SCREEN_HEIGHT))
        return false;

    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE); // blending itself is the scenes' to switch on
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90.0, ASPECT, NEAR_PLANE, 1500.0);
    glMatrixMode(GL_MODELVIEW);
    // The fog mode stays GL_EXP, where the start value has no effect.
    glFogi(GL_FOG_START, 40);
    glFogiv(GL_FOG_COLOR, FOG_BLACK);
    glFogi(GL_FOG_DENSITY, 1);
    return true;
}

// The attribute stack holds every piece of state the scenes touch; the
// matrices they change are loaded afresh each frame or pushed and popped.
void keepStartState() {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
}

void restoreStartState() {
    glPopAttrib();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
}
