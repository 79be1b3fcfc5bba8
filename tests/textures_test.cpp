// The text images, drawn with the fonts the machine has and without any.
#include "platform/platform.h"
#include "visuals/textures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

// Where the ink of a drawing lies, rows counted from the bottom (the order in
// memory), after checking what every text image shares.
struct Ink {
    int low = 256, high = -1, left = 256, right = -1;
    double centre() const { return (left + right + 1) / 2.0; }
};

Ink draw(int height, const char *text) {
    makeTextTexture(SLOT_CLOSING, height, text);
    Ink ink;
    int malformed = 0;
    for (int t = 0; t < 256 * 256; t++) {
        const unsigned char *b = TexturePixels[SLOT_CLOSING] + t * 4;
        malformed += b[1] != b[0] || b[2] != b[0] || b[3] != 0 || (t >= 128 * 256 && b[0] != 0);
        if (b[0] != 0)
            ink = {std::min(ink.low, t / 256), std::max(ink.high, t / 256),
                   std::min(ink.left, t % 256), std::max(ink.right, t % 256)};
    }
    EXPECT_EQ(malformed, 0) << text;
    return ink;
}

// Below the middle row, centred by the whole advance, the 48-pixel word the
// taller; Windows-1250 decoded, so each accented letter carries a mark above its
// plain form (0x8A is no letter in Latin-1).
TEST(TextTexture, HangsFromRow128CentredOnColumn128) {
    const Ink greeting = draw(13, GREETING_TEXT), closing = draw(48, CLOSING_TEXT);
    EXPECT_TRUE(greeting.high <= 127 && greeting.high >= 127 - 13 / 3) << greeting.high;
    EXPECT_TRUE(closing.high <= 127 && closing.high >= 127 - 48 / 3) << closing.high;
    EXPECT_GT(closing.high - closing.low, greeting.high - greeting.low + 20);
    EXPECT_NEAR(draw(48, "H").centre(), 128.0, 1.0);
    // The trailing blank counts: the greeting's ink sits half a blank left of centre.
    const int blank = draw(13, " H").left - draw(13, "H ").left;
    ASSERT_GT(blank, 0);
    EXPECT_NEAR(greeting.centre(), 128.0 - blank / 2.0, 1.5);
    const char *pairs[][2] = {{"V\xC9GE", "VEGE"}, {"\xDC", "U"}, {"\x8A", "S"}};
    for (const auto &pair : pairs)
        EXPECT_GT(draw(48, pair[0]).high, draw(48, pair[1]).high) << pair[0];
}

// Run alone, with a fontconfig set-up that knows no fonts.
TEST(NoFont, TextImagesStayBlackAndOneLineSaysSo) {
    std::memset(TexturePixels, 0x5A, sizeof TexturePixels);
    testing::internal::CaptureStderr();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    const std::string said = testing::internal::GetCapturedStderr();
    for (int slot : {SLOT_GREETING, SLOT_CLOSING})
        EXPECT_EQ(std::count(TexturePixels[slot], TexturePixels[slot] + TEXTURE_BYTES, 0),
                  TEXTURE_BYTES);
    EXPECT_TRUE(!said.empty() && said.find('\n') == said.size() - 1) << said;
}
