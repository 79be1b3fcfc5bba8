#include "tools/frame_format.h"

#include <cstring>

static bool parseSide(const char *text, const char *end, int *side) {
    if (text == end || end - text > 5)
        return false;
    int value = 0;
    for (const char *p = text; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    *side = value;
    return value > 0;
}

bool parseSize(const char *text, int *width, int *height) {
    const char *x = std::strchr(text, 'x');
    return x && parseSide(text, x, width) && parseSide(x + 1, x + std::strlen(x), height);
}

std::string sizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string pictureSizeProblem(int width, int height) {
    // 4:3 in whole pixels makes the width a multiple of 4.
    if (width * 3 != height * 4)
        return "the picture is 4:3, such as 1600x1200 or 1440x1080";
    if (width > MAX_PICTURE_WIDTH)
        return "the largest picture is " + sizeText(MAX_PICTURE_WIDTH, MAX_PICTURE_WIDTH * 3 / 4);
    return "";
}

void placeOnCanvas(const FrameFormat &format, const unsigned char *picture, unsigned char *canvas) {
    const size_t row = (size_t)format.width * 4, canvasRow = (size_t)format.canvasWidth * 4;
    unsigned char *out = canvas + (size_t)format.top() * canvasRow + (size_t)format.left() * 4;
    for (int y = 0; y < format.height; ++y)
        std::memcpy(out + y * canvasRow, picture + y * row, row);
}
