#include "tests/gl_context.h"
#include "visuals/textures.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

GLint levelParameter(int level, GLenum name) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

GLint textureParameter(GLenum name) {
    GLint value = -1;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

} // namespace

TEST(UploadTextures, EachNameHoldsItsImageWithFullMipChainAndDefaultState) {
    ASSERT_TRUE(openTestContext(64, 64));
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    uploadTextures();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    static unsigned char level0[TEXTURE_BYTES];
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        ASSERT_NE(textureNames[k], 0u);
        for (int other = 0; other < k; other++)
            EXPECT_NE(textureNames[k], textureNames[other]);
        glBindTexture(GL_TEXTURE_2D, textureNames[k]);

        std::memset(level0, 0xA5, sizeof level0);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, level0);
        EXPECT_EQ(std::memcmp(level0, TexturePixels[k], TEXTURE_BYTES), 0);

        for (int level = 0, size = 256; level <= 8; level++, size /= 2) {
            EXPECT_EQ(levelParameter(level, GL_TEXTURE_WIDTH), size) << "level " << level;
            EXPECT_EQ(levelParameter(level, GL_TEXTURE_HEIGHT), size) << "level " << level;
        }
        EXPECT_EQ(textureParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
        EXPECT_EQ(textureParameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
        EXPECT_EQ(textureParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST_MIPMAP_LINEAR);
        EXPECT_EQ(textureParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    }
    closeTestContext();
}
