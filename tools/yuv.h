#pragma once

// Converts an RGBA frame (rows top first, width and height even) to planar
// 4:2:0 studio-range BT.601, the form H.264 and VP9 take: a Y plane, then U,
// then V, each chroma sample the mean of its 2x2 block. yuv holds
// width * height * 3 / 2 bytes.
void toYuv420(const unsigned char *rgba, int width, int height, unsigned char *yuv);
