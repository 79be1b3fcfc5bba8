// The font rasteriser: Windows' own GDI, as the show was made for. The text
// is drawn into a bitmap compatible with the screen and read back as a
// bottom-up 32-bit DIB, which is the texture's layout. Windows decodes the
// Windows-1250 bytes itself through the East European character set, and its
// font mapper picks a substitute where Verdana is missing.
#include "platform/platform.h"
#include "platform/win32/internal.h"

#include <cstring>

static const int SURFACE = 256;

void platformDrawText(unsigned char *image, int cellHeight, const char *text) {
    std::memset(image, 0, SURFACE * SURFACE * 4);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, SURFACE, SURFACE);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
    // A new bitmap's contents are not promised to be black.
    PatBlt(memory, 0, 0, SURFACE, SURFACE, BLACKNESS);
    HFONT font = CreateFontA(cellHeight, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE,
                             EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Verdana");
    HGDIOBJ previousFont = SelectObject(memory, font);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(255, 255, 255));
    SetTextAlign(memory, TA_CENTER | TA_TOP);
    TextOutA(memory, SURFACE / 2, SURFACE / 2, text, (int)std::strlen(text));
    SelectObject(memory, previousBitmap); // GetDIBits wants it out of every context

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = SURFACE;
    info.bmiHeader.biHeight = SURFACE; // positive: bottom row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    GetDIBits(memory, bitmap, 0, SURFACE, image, &info, DIB_RGB_COLORS);
    // GDI leaves the fourth byte of a 32-bit surface to the driver.
    for (int texel = 0; texel < SURFACE * SURFACE; ++texel)
        image[texel * 4 + 3] = 0;

    SelectObject(memory, previousFont);
    DeleteObject(font);
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
}
