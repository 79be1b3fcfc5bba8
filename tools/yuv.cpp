#include "tools/yuv.h"

#include <cstdint>
#include <cstring>

// The conversions are done here rather than by ffmpeg because a quarter of a
// video's CPU time went into ffmpeg's, and 4:2:0 more than halves what
// crosses the pipe.

void blackYuv420(const FrameFormat &f, unsigned char *yuv) {
    const size_t luma = (size_t)f.canvasWidth * f.canvasHeight;
    std::memset(yuv, 16, luma);
    std::memset(yuv + luma, 128, luma / 2);
}

// In integers with 8 bits of fraction, the coefficients of the BT.601 matrix
// scaled to studio range; chroma sums four pixels, hence the extra 2 bits.
void toYuv420(const unsigned char *rgba, const FrameFormat &f, unsigned char *yuv) {
    const int w = f.width, h = f.height, cw = f.canvasWidth;
    unsigned char *yPlane = yuv + (size_t)f.top() * cw + f.left();
    unsigned char *uPlane =
        yuv + (size_t)cw * f.canvasHeight + (size_t)f.top() / 2 * (cw / 2) + f.left() / 2;
    unsigned char *vPlane = uPlane + (size_t)(cw / 2) * (f.canvasHeight / 2);
    for (int y = 0; y < h; ++y) {
        const unsigned char *p = rgba + (size_t)y * w * 4;
        unsigned char *out = yPlane + (size_t)y * cw;
        for (int x = 0; x < w; ++x) {
            uint32_t in;
            std::memcpy(&in, p + 4 * x, 4);
            const int r = in & 0xFF, g = in >> 8 & 0xFF, b = in >> 16 & 0xFF;
            out[x] = (unsigned char)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
        }
    }
    for (int y = 0; y < h; y += 2) {
        unsigned char *u = uPlane + (size_t)(y / 2) * (cw / 2),
                      *v = vPlane + (size_t)(y / 2) * (cw / 2);
        for (int x = 0; x < w; x += 2) {
            const unsigned char *a = rgba + 4 * ((size_t)y * w + x), *b = a + 4 * (size_t)w;
            int r = a[0] + a[4] + b[0] + b[4], g = a[1] + a[5] + b[1] + b[5];
            int bl = a[2] + a[6] + b[2] + b[6];
            u[x / 2] = (unsigned char)(((-38 * r - 74 * g + 112 * bl + 512) >> 10) + 128);
            v[x / 2] = (unsigned char)(((112 * r - 94 * g - 18 * bl + 512) >> 10) + 128);
        }
    }
}

void blackYuv444(const FrameFormat &f, unsigned char *yuv) {
    const size_t plane = (size_t)f.canvasWidth * f.canvasHeight;
    std::memset(yuv, 0, plane);
    std::memset(yuv + plane, 128, plane * 2);
}

static inline unsigned char clampByte(int v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// 16 bits of fraction; each row of the matrix sums to exactly 1 or 0, so a
// grey maps to itself and to 128.
void toYuv444(const unsigned char *rgba, const FrameFormat &f, unsigned char *yuv) {
    const int w = f.width, h = f.height, cw = f.canvasWidth;
    const size_t plane = (size_t)cw * f.canvasHeight, at = (size_t)f.top() * cw + f.left();
    const int half = 1 << 15, centre = 128 << 16;
    for (int y = 0; y < h; ++y) {
        const unsigned char *p = rgba + (size_t)y * w * 4;
        unsigned char *yRow = yuv + at + (size_t)y * cw, *uRow = yRow + plane, *vRow = uRow + plane;
        for (int x = 0; x < w; ++x) {
            uint32_t in;
            std::memcpy(&in, p + 4 * x, 4);
            const int r = in & 0xFF, g = in >> 8 & 0xFF, b = in >> 16 & 0xFF;
            yRow[x] = (unsigned char)((19595 * r + 38470 * g + 7471 * b + half) >> 16);
            uRow[x] = clampByte((-11059 * r - 21709 * g + 32768 * b + centre + half) >> 16);
            vRow[x] = clampByte((32768 * r - 27439 * g - 5329 * b + centre + half) >> 16);
        }
    }
}

// As words, which the compiler turns into vector shuffles.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixels are read as little-endian words");

void toBgr0(const unsigned char *rgba, const FrameFormat &f, unsigned char *bgr0) {
    const int w = f.width, h = f.height, cw = f.canvasWidth;
    for (int y = 0; y < h; ++y) {
        const unsigned char *p = rgba + (size_t)y * w * 4;
        unsigned char *out = bgr0 + 4 * ((size_t)(f.top() + y) * cw + f.left());
        for (int x = 0; x < w; ++x) {
            uint32_t in;
            std::memcpy(&in, p + 4 * x, 4);
            const uint32_t swapped = (in >> 16 & 0xFF) | (in & 0xFF00) | (in & 0xFF) << 16;
            std::memcpy(out + 4 * x, &swapped, 4);
        }
    }
}
