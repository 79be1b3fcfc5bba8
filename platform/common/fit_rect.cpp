#include "platform/common/fit_rect.h"

void fitRect(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int rect[4]) {
    // In 64 bits, rounded to the nearest pixel: a monitor-sized surface times
    // a frame size overflows 32.
    long long w, h;
    if ((long long)dstWidth * srcHeight <= (long long)dstHeight * srcWidth) {
        w = dstWidth;
        h = ((long long)dstWidth * srcHeight * 2 + srcWidth) / (2LL * srcWidth);
    } else {
        h = dstHeight;
        w = ((long long)dstHeight * srcWidth * 2 + srcHeight) / (2LL * srcHeight);
    }
    rect[0] = (int)((dstWidth - w) / 2);
    rect[1] = (int)((dstHeight - h) / 2);
    rect[2] = (int)w;
    rect[3] = (int)h;
}
