#include "tools/yuv.h"

// In integers with 8 bits of fraction, the coefficients of the BT.601 matrix
// scaled to studio range; chroma sums four pixels, hence the extra 2 bits.
// Done here because it is a third of ffmpeg's work and shrinks what crosses
// the pipe from 1.9 MB a frame to 0.7 MB.
void toYuv420(const unsigned char *rgba, int width, int height, unsigned char *yuv) {
    const int w = width, h = height;
    unsigned char *yPlane = yuv, *uPlane = yuv + w * h, *vPlane = uPlane + w * h / 4;
    for (int i = 0; i < w * h; ++i) {
        const unsigned char *p = rgba + 4 * i;
        yPlane[i] = (unsigned char)(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
    }
    for (int y = 0; y < h; y += 2) {
        for (int x = 0; x < w; x += 2) {
            const unsigned char *a = rgba + 4 * (y * w + x), *b = a + 4 * w;
            int r = a[0] + a[4] + b[0] + b[4], g = a[1] + a[5] + b[1] + b[5];
            int bl = a[2] + a[6] + b[2] + b[6];
            int k = (y / 2) * (w / 2) + x / 2;
            uPlane[k] = (unsigned char)(((-38 * r - 74 * g + 112 * bl + 512) >> 10) + 128);
            vPlane[k] = (unsigned char)(((112 * r - 94 * g - 18 * bl + 512) >> 10) + 128);
        }
    }
}
