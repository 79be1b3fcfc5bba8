// Run with a fontconfig set-up that knows no fonts.
#include "visuals/textures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

TEST(TextTextureWithoutFont, ImagesStayBlackAndOneLineSaysWhy) {
    std::memset(TexturePixels, 0x5A, sizeof TexturePixels);
    testing::internal::CaptureStderr();
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    std::string said = testing::internal::GetCapturedStderr();

    for (int slot : {SLOT_GREETING, SLOT_CLOSING})
        for (int byte = 0; byte < TEXTURE_BYTES; byte++)
            ASSERT_EQ(TexturePixels[slot][byte], 0) << "slot " << slot << ", byte " << byte;
    EXPECT_EQ(TexturePixels[SLOT_GLOW][(128 * 256 + 128) * 4], 255);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_NE(said.find("font"), std::string::npos) << said;
}
