// The font rasteriser in the browser: canvas 2D text in a Verdana-like list
// of faces, the Windows-1250 bytes decoded by the browser's TextDecoder.
// The browser chooses the face from the list and hints and smooths it its
// own way, so the glyphs differ a little from FreeType's; the placement
// (top centre at column 128, row 128, read back bottom-up) is the same.
#include "platform/platform.h"

#include <cstring>

extern "C" int pelmiraDrawText(unsigned char *image, int cellHeight, const char *text, int length);

void platformDrawText(unsigned char *image, int cellHeight, const char *text) {
    std::memset(image, 0, 256 * 256 * 4);
    if (cellHeight <= 0)
        return;
    if (!pelmiraDrawText(image, cellHeight, text, (int)std::strlen(text)))
        platformSay("this browser draws no text on a canvas; the text images stay blank");
}
