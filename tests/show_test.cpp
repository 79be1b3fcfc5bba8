// The demo clock, and the show's fixed display state in a real context on
// SDL's offscreen driver.
#include "driver/demo_main.h"
#include "driver/display.h"
#include "driver/platform.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

TEST(DemoClock, TurnsTicksIntoSecondsAcrossTheWrap) {
    EXPECT_EQ(demoTime(0, 5000), 5.0f);
    // The product is formed in double: in float it would round to 14.7f.
    EXPECT_EQ(demoTime(0, 14700), 14.7000008f);
    EXPECT_LT(demoTime(7, 7 + 30999), 31.0f);       // the last frame drawn
    EXPECT_EQ(demoTime(7, 7 + 31000), 31.0000019f); // the first that ends
    EXPECT_EQ(demoTime(0xFFFFFF00u, 0x100u), 0.512f);
    EXPECT_EQ(demoTime(0xFFFFFFFFu, 4999u), 5.0f);
}

static GLint integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

TEST(SetupDisplay, SetsTheFixedStateOnAn800x600PictureOfItsOwn) {
    platformRequestHeadless();
    setupDisplay();
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND) || glIsEnabled(GL_FOG));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE);
    EXPECT_EQ(integer(GL_FOG_MODE), GL_EXP);
    GLfloat density = 0, fog[4] = {1, 1, 1, 1};
    glGetFloatv(GL_FOG_DENSITY, &density);
    glGetFloatv(GL_FOG_COLOR, fog);
    EXPECT_EQ(density, 1.0f);
    for (GLfloat c : fog)
        EXPECT_LT(c, 1e-9f);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);

    // The show draws into a framebuffer of its own: a deeper depth buffer
    // would change which fragments win the depth test.
    EXPECT_NE(integer(GL_DRAW_FRAMEBUFFER_BINDING), 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2] * 10000 + viewport[3], 800 * 10000 + 600);
    for (GLenum bits : {GL_RED_BITS, GL_GREEN_BITS, GL_BLUE_BITS, GL_ALPHA_BITS})
        EXPECT_EQ(integer(bits), 8);
    EXPECT_EQ(integer(GL_DEPTH_BITS), 16);

    GLdouble got[16], want[16];
    glGetDoublev(GL_PROJECTION_MATRIX, got);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(90.0, 4.0f / 3.0f, 0.1f, 1500.0);
    glGetDoublev(GL_PROJECTION_MATRIX, want);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(got[i], want[i]) << "element " << i;
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}
