// The font rasteriser: fontconfig picks the face, FreeType draws it, iconv
// decodes the single-byte Windows-1250 text. The face and the byte-to-glyph
// table are set up on the first call and kept until fontClose. Outline faces
// only, hinted, no kerning; a missing face leaves the images black.
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <iconv.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

namespace {

constexpr int SURFACE = 256;
constexpr int REFERENCE_X = 128;
constexpr int REFERENCE_Y = 128;

enum FontState { FONT_UNTRIED, FONT_READY, FONT_MISSING };

FontState fontState = FONT_UNTRIED;
FT_Library library;
FT_Face face;
// Glyph of every Windows-1250 byte in the face; 0 (the face's "missing"
// glyph) where the byte has no character.
FT_UInt glyphOfByte[256];
// Font units of the cell above the baseline and of the whole cell.
long cellAscentUnits;
long cellUnits;

bool noFont(const char *why) {
    platformSay("%s; the text images stay blank", why);
    fontState = FONT_MISSING;
    return false;
}

// Decodes every byte once so drawing needs no conversion. Without the
// converter only ASCII can be trusted to be itself.
void mapBytesToGlyphs() {
    uint32_t codePoint[256] = {};
    iconv_t decoder = iconv_open("UTF-32LE", "CP1250");
    if (decoder == reinterpret_cast<iconv_t>(-1))
        decoder = iconv_open("UTF-32LE", "WINDOWS-1250");
    if (decoder == reinterpret_cast<iconv_t>(-1)) {
        platformSay("no Windows-1250 decoder; only ASCII letters are drawn");
        for (int b = 0; b < 128; b++)
            codePoint[b] = static_cast<uint32_t>(b);
    } else {
        for (int b = 1; b < 256; b++) {
            char in = static_cast<char>(b);
            unsigned char out[4];
            char *inPtr = &in;
            char *outPtr = reinterpret_cast<char *>(out);
            size_t inLeft = 1, outLeft = sizeof out;
            if (iconv(decoder, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
                outLeft != 0) {
                // Five bytes of the code page are unassigned: they get the
                // missing glyph, as a Windows font would show them.
                iconv(decoder, nullptr, nullptr, nullptr, nullptr);
                continue;
            }
            codePoint[b] =
                out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24;
        }
        iconv_close(decoder);
    }
    for (int b = 0; b < 256; b++)
        glyphOfByte[b] = codePoint[b] ? FT_Get_Char_Index(face, codePoint[b]) : 0;
}

// fontconfig prints what it finds wrong with its configuration (a
// FONTCONFIG_FILE that is missing, or not XML) on stderr itself, line after
// line: its stderr is caught while it reads it, and the first line kept.
FcConfig *loadConfig(std::string *complaint) {
    std::fflush(stderr);
    int caught = memfd_create("fontconfig", MFD_CLOEXEC);
    int saved = caught >= 0 ? dup(2) : -1;
    if (saved < 0 || dup2(caught, 2) < 0) {
        if (caught >= 0)
            close(caught);
        if (saved >= 0)
            close(saved);
        return FcInitLoadConfigAndFonts();
    }
    FcConfig *config = FcInitLoadConfigAndFonts();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    char text[256];
    ssize_t got = pread(caught, text, sizeof text - 1, 0);
    close(caught);
    text[got > 0 ? got : 0] = '\0';
    text[std::strcspn(text, "\n")] = '\0';
    const char *start = text;
    for (const char *prefix : {"Fontconfig error: ", "Fontconfig warning: "})
        if (std::strncmp(text, prefix, std::strlen(prefix)) == 0)
            start = text + std::strlen(prefix);
    *complaint = start;
    return config;
}

// The file and face index fontconfig picks for Verdana semibold; fontconfig's
// own configuration is given back before returning.
bool matchFace(std::string *file, int *index, std::string *complaint) {
    FcConfig *config = loadConfig(complaint);
    if (!config)
        return false;
    FcPattern *request = FcPatternCreate();
    FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8 *>("Verdana"));
    FcPatternAddInteger(request, FC_WEIGHT, FC_WEIGHT_DEMIBOLD);
    // Any cell height must be drawable, so only outline faces will do.
    FcPatternAddBool(request, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result;
    FcPattern *match = FcFontMatch(config, request, &result);
    FcPatternDestroy(request);
    FcChar8 *name = nullptr;
    bool found = match && FcPatternGetString(match, FC_FILE, 0, &name) == FcResultMatch;
    if (found) {
        *file = reinterpret_cast<const char *>(name);
        *index = 0;
        FcPatternGetInteger(match, FC_INDEX, 0, index);
    }
    if (match)
        FcPatternDestroy(match);
    FcConfigDestroy(config);
    return found;
}

bool openFont() {
    if (fontState != FONT_UNTRIED)
        return fontState == FONT_READY;
    std::string file;
    int index = 0;
    std::string complaint;
    bool found = matchFace(&file, &index, &complaint);
    if (!found)
        return noFont(("fontconfig finds no face for Verdana" +
                       (complaint.empty() ? "" : " (" + complaint + ")"))
                          .c_str());
    if (!complaint.empty())
        platformSay("fontconfig: %s", complaint.c_str());
    if (FT_Init_FreeType(&library) != 0)
        return noFont("FreeType does not start");
    if (FT_New_Face(library, file.c_str(), index, &face) != 0)
        return noFont("FreeType cannot open the face fontconfig chose");
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
        return noFont("the face fontconfig chose has no outlines");

    // A positive height asks for the cell the Windows font mapper measures:
    // the OS/2 Windows ascent and descent, which enclose every glyph.
    const TT_OS2 *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
        cellAscentUnits = os2->usWinAscent;
        cellUnits = static_cast<long>(os2->usWinAscent) + os2->usWinDescent;
    } else {
        cellAscentUnits = face->ascender;
        cellUnits = static_cast<long>(face->ascender) - face->descender;
    }
    if (cellAscentUnits <= 0 || cellUnits <= 0) {
        cellAscentUnits = face->units_per_EM;
        cellUnits = face->units_per_EM;
    }

    mapBytesToGlyphs();
    fontState = FONT_READY;
    return true;
}

// Lays white coverage over the surface as a glyph drawn on top would, so
// overlapping glyphs merge instead of clipping each other's edges. Surface
// row y (from the top) is image row 255 - y.
void drawGlyph(unsigned char *image, const FT_Bitmap &bitmap, int left, int top) {
    for (unsigned row = 0; row < bitmap.rows; row++) {
        int y = top + static_cast<int>(row);
        if (y < 0 || y >= SURFACE)
            continue;
        const unsigned char *source = bitmap.pitch >= 0
                                          ? bitmap.buffer + row * bitmap.pitch
                                          : bitmap.buffer + (bitmap.rows - 1 - row) * -bitmap.pitch;
        unsigned char *line = image + (SURFACE - 1 - y) * SURFACE * 4;
        for (unsigned column = 0; column < bitmap.width; column++) {
            int x = left + static_cast<int>(column);
            unsigned coverage = source[column];
            if (x < 0 || x >= SURFACE || coverage == 0)
                continue;
            unsigned char *texel = line + x * 4;
            unsigned level = texel[0] + ((255 - texel[0]) * coverage + 127) / 255;
            texel[0] = texel[1] = texel[2] = static_cast<unsigned char>(level);
        }
    }
}

bool loadGlyph(unsigned char byte) {
    // Hinted outlines only: embedded bitmaps would not be anti-aliased.
    return FT_Load_Glyph(face, glyphOfByte[byte], FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) == 0;
}

int hintedAdvance() {
    return static_cast<int>((face->glyph->advance.x + 32) >> 6);
}

} // namespace

void platformDrawText(unsigned char *image, int cellHeight, const char *text) {
    std::memset(image, 0, SURFACE * SURFACE * 4);
    if (cellHeight <= 0 || !openFont())
        return;

    // Whole pixels per em, as TrueType hinting needs, nearest to the size at
    // which the cell is cellHeight pixels high.
    long ppem = (cellHeight * static_cast<long>(face->units_per_EM) + cellUnits / 2) / cellUnits;
    if (ppem < 1)
        ppem = 1;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem)) != 0)
        return;
    int ascent =
        static_cast<int>((FT_MulFix(cellAscentUnits, face->size->metrics.y_scale) + 32) >> 6);

    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t length = std::strlen(text);
    // Every byte counts towards the centred width, trailing blanks included.
    long width = 0;
    for (size_t n = 0; n < length; n++)
        if (loadGlyph(bytes[n]))
            width += hintedAdvance();

    long penX = REFERENCE_X - width / 2;
    int baseline = REFERENCE_Y + ascent;
    for (size_t n = 0; n < length; n++) {
        if (!loadGlyph(bytes[n]))
            continue;
        FT_GlyphSlot glyph = face->glyph;
        int advance = hintedAdvance();
        if (FT_Render_Glyph(glyph, FT_RENDER_MODE_NORMAL) == 0)
            drawGlyph(image, glyph->bitmap, static_cast<int>(penX) + glyph->bitmap_left,
                      baseline - glyph->bitmap_top);
        penX += advance;
    }
}

void fontClose() {
    if (face)
        FT_Done_Face(face);
    if (library)
        FT_Done_FreeType(library);
    face = nullptr;
    library = nullptr;
    fontState = FONT_UNTRIED;
    FcFini();
}
