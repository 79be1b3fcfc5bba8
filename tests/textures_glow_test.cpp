#include "visuals/textures.h"

#include <gtest/gtest.h>

namespace {

int glowAt(int row, int column) {
    return TexturePixels[SLOT_GLOW][(row * 256 + column) * 4];
}

} // namespace

TEST(GlowTexture, ConeValuesAndCoverage) {
    makeGlowTexture();
    struct {
        int row, column, value;
    } const listed[] = {{128, 128, 255}, {127, 127, 253}, {64, 64, 74}, {100, 128, 200},
                        {128, 200, 112}, {128, 255, 2},   {128, 0, 0},  {0, 128, 0},
                        {0, 0, 0},       {255, 255, 0}};
    for (const auto &texel : listed)
        EXPECT_EQ(glowAt(texel.row, texel.column), texel.value)
            << "row " << texel.row << ", column " << texel.column;

    int nonZero = 0;
    for (int texel = 0; texel < 256 * 256; texel++) {
        const unsigned char *bytes = &TexturePixels[SLOT_GLOW][texel * 4];
        nonZero += bytes[0] != 0;
        ASSERT_TRUE(bytes[1] == bytes[0] && bytes[2] == bytes[0] && bytes[3] == bytes[0])
            << "texel " << texel;
    }
    EXPECT_EQ(nonZero, 51101);
}
