#include "visuals/textures.h"

#include <cstring>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

namespace {

// Where the white lies in an image, rows counted from the bottom (row 0 first
// in memory), columns from the left, both inclusive.
struct Ink {
    int lowRow = 256, highRow = -1, left = 256, right = -1;
    bool any() const { return highRow >= 0; }
    double centre() const { return (left + right + 1) / 2.0; }
};

Ink inkOf(const unsigned char *image) {
    Ink ink;
    for (int row = 0; row < 256; row++)
        for (int column = 0; column < 256; column++)
            if (image[(row * 256 + column) * 4] != 0) {
                ink.lowRow = std::min(ink.lowRow, row);
                ink.highRow = std::max(ink.highRow, row);
                ink.left = std::min(ink.left, column);
                ink.right = std::max(ink.right, column);
            }
    return ink;
}

// Draws into the greeting's slot and keeps a copy, so drawings can be compared.
const unsigned char *draw(int height, const char *text) {
    static unsigned char copies[8][TEXTURE_BYTES];
    static int next;
    unsigned char *copy = copies[next++ % 8];
    makeTextTexture(SLOT_GREETING, height, text);
    std::memcpy(copy, TexturePixels[SLOT_GREETING], TEXTURE_BYTES);
    return copy;
}

int rowsEqual(const unsigned char *a, const unsigned char *b, int fromRow, int toRow) {
    return std::memcmp(a + fromRow * 1024, b + fromRow * 1024, (toRow - fromRow + 1) * 1024) == 0;
}

void expectWellFormed(const unsigned char *image, int height, const char *what) {
    SCOPED_TRACE(what);
    for (int texel = 0; texel < 256 * 256; texel++) {
        const unsigned char *bytes = image + texel * 4;
        ASSERT_TRUE(bytes[1] == bytes[0] && bytes[2] == bytes[0] && bytes[3] == 0)
            << "texel " << texel;
        // The surface above the reference row is the image's upper half.
        ASSERT_TRUE(texel < 128 * 256 || bytes[0] == 0) << "ink above the cell, texel " << texel;
    }
    Ink ink = inkOf(image);
    ASSERT_TRUE(ink.any());
    // Hanging from row 128 inside the cell, its top close under the reference row.
    EXPECT_LE(ink.highRow, 127);
    EXPECT_GE(ink.highRow, 127 - height / 3);
    EXPECT_GE(ink.lowRow, 128 - height);
    bool antiAliased = false;
    for (int texel = 0; texel < 256 * 256; texel++)
        antiAliased |= image[texel * 4] != 0 && image[texel * 4] != 255;
    EXPECT_TRUE(antiAliased);
}

// The face fontconfig offers for the request the show makes, for the sizes
// the drawings must have.
FT_Face matchedFace() {
    static FT_Library library;
    static FT_Face face;
    if (face)
        return face;
    FcPattern *request = FcNameParse(reinterpret_cast<const FcChar8 *>("Verdana:scalable=true"));
    FcPatternAddInteger(request, FC_WEIGHT, FC_WEIGHT_DEMIBOLD);
    FcConfigSubstitute(nullptr, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result;
    FcPattern *match = FcFontMatch(nullptr, request, &result);
    FcChar8 *file = nullptr;
    int index = 0;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        if (FT_Init_FreeType(&library) != 0 ||
            FT_New_Face(library, reinterpret_cast<const char *>(file), index, &face) != 0)
            face = nullptr;
    }
    return face;
}

long pixels(long units, long ppem, long unitsPerEm) {
    return (units * ppem * 2 + unitsPerEm) / (unitsPerEm * 2);
}

} // namespace

TEST(TextTexture, StartUpTextsHangBelowTheMiddleRow) {
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);
    expectWellFormed(TexturePixels[SLOT_GREETING], 13, "greeting");
    expectWellFormed(TexturePixels[SLOT_CLOSING], 48, "closing word");
    Ink greeting = inkOf(TexturePixels[SLOT_GREETING]);
    Ink closing = inkOf(TexturePixels[SLOT_CLOSING]);
    EXPECT_GT(closing.highRow - closing.lowRow, greeting.highRow - greeting.lowRow + 20);
    EXPECT_EQ(std::strlen(GREETING_TEXT), 35u);
    EXPECT_EQ(std::strlen(CLOSING_TEXT), 4u);
}

TEST(TextTexture, CellIsTheWindowsAscentPlusDescent) {
    FT_Face face = matchedFace();
    ASSERT_NE(face, nullptr) << "fontconfig finds no face";
    const TT_OS2 *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    ASSERT_NE(os2, nullptr);
    long unitsPerEm = face->units_per_EM;
    long cell = os2->usWinAscent + os2->usWinDescent;
    ASSERT_EQ(FT_Load_Char(face, 'H', FT_LOAD_NO_SCALE), 0);
    long capUnits = face->glyph->metrics.height;

    for (int height : {13, 48}) {
        SCOPED_TRACE(height);
        long ppem = (height * unitsPerEm * 2 + cell) / (cell * 2);
        long ascent = pixels(os2->usWinAscent, ppem, unitsPerEm);
        EXPECT_EQ(ascent + pixels(os2->usWinDescent, ppem, unitsPerEm), height);
        Ink ink = inkOf(draw(height, "HH"));
        ASSERT_TRUE(ink.any());
        // The baseline lies the Windows ascent below row 128 of the surface.
        EXPECT_NEAR(ink.lowRow, 128 - ascent, 1);
        EXPECT_NEAR(ink.highRow - ink.lowRow + 1, pixels(capUnits, ppem, unitsPerEm), 1);
    }
}

TEST(TextTexture, CentredOnColumn128ByTheWholeAdvance) {
    for (int height : {13, 48}) {
        SCOPED_TRACE(height);
        EXPECT_NEAR(inkOf(draw(height, "H")).centre(), 128.0, 1.0);
        EXPECT_NEAR(inkOf(draw(height, "HIH")).centre(), 128.0, 1.0);
    }
    // A leading and a trailing blank move the ink apart by one blank's advance.
    int blank = inkOf(draw(13, " H")).left - inkOf(draw(13, "H ")).left;
    ASSERT_GT(blank, 0);

    Ink greeting = inkOf(draw(13, GREETING_TEXT));
    std::string visible(GREETING_TEXT, std::strlen(GREETING_TEXT) - 1);
    Ink withoutBlank = inkOf(draw(13, visible.c_str()));
    EXPECT_NEAR(withoutBlank.centre() - greeting.centre(), blank / 2.0, 1.0);
    EXPECT_NEAR(greeting.centre(), 128.0 - blank / 2.0, 1.5);
    EXPECT_GT(greeting.left, 0);
    EXPECT_LT(greeting.right, 255);

    // Text wider than the surface is cut at both sides, still centred.
    std::string wide(60, 'W');
    const unsigned char *clipped = draw(48, wide.c_str());
    Ink ink = inkOf(clipped);
    EXPECT_EQ(ink.left, 0);
    EXPECT_EQ(ink.right, 255);
}

TEST(TextTexture, AccentedLettersAreTheirOwnGlyphs) {
    struct {
        int height;
        const char *accented, *plain;
    } const pairs[] = {{48, "V\xC9GE", "VEGE"},
                       {13, "\xDC", "U"},
                       {48, "\xDC", "U"},
                       // Windows-1250 only: Latin-1 has no letter at 0x8A.
                       {48, "\x8A", "S"},
                       {48, "\xF5", "o"}};
    for (const auto &pair : pairs) {
        SCOPED_TRACE(pair.accented);
        const unsigned char *accented = draw(pair.height, pair.accented);
        const unsigned char *plain = draw(pair.height, pair.plain);
        Ink accentedInk = inkOf(accented), plainInk = inkOf(plain);
        ASSERT_TRUE(plainInk.any());
        EXPECT_GT(accentedInk.highRow, plainInk.highRow) << "no mark above the letter";
        // Below the mark it is the plain letter.
        int base = plainInk.highRow - plainInk.lowRow;
        EXPECT_TRUE(rowsEqual(accented, plain, 0, plainInk.lowRow + base / 2));
    }
}
