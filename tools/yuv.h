// The picture in the forms the encoders take, written into the middle of a
// canvas (FrameFormat): each function writes the picture's pixels only, so
// the bars, made black once by the matching black function, stay black.
#pragma once

#include "tools/frame_format.h"

// Planar 4:2:0 studio-range BT.601, the form H.264 and VP9 players expect: a
// Y plane, then U, then V, each chroma sample the mean of its 2x2 block. The
// picture's width and height are even. yuv holds canvas width * height * 3 / 2
// bytes.
void blackYuv420(const FrameFormat &format, unsigned char *yuv);
void toYuv420(const unsigned char *rgba, const FrameFormat &format, unsigned char *yuv);

// Planar 4:4:4 full-range BT.601: greys are exact (Y is the grey level, U and
// V 128) and colours one level at most off once turned back, which is what a
// lossless H.264 master can keep. yuv holds canvas width * height * 3 bytes.
void blackYuv444(const FrameFormat &format, unsigned char *yuv);
void toYuv444(const unsigned char *rgba, const FrameFormat &format, unsigned char *yuv);

// Blue, green, red and a zero byte per pixel (ffmpeg's bgr0), what FFV1
// keeps exactly. Black is all zeros.
void toBgr0(const unsigned char *rgba, const FrameFormat &format, unsigned char *bgr0);
