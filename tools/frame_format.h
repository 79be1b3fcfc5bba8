// What each captured frame is: the size the show is drawn at, the black
// canvas the picture is centred on, and how many drawn frames it averages.
#pragma once

#include "show/display.h"

#include <cstddef>
#include <string>

struct FrameFormat {
    int width = SCREEN_WIDTH, height = SCREEN_HEIGHT; // the picture
    int canvasWidth = SCREEN_WIDTH, canvasHeight = SCREEN_HEIGHT;
    int subframes = 1;

    bool padded() const { return canvasWidth != width || canvasHeight != height; }
    // Where the picture's top left corner lies on the canvas: centred, and on
    // even coordinates so that 4:2:0 chroma blocks never mix it with the bars.
    int left() const { return (canvasWidth - width) / 2 & ~1; }
    int top() const { return (canvasHeight - height) / 2 & ~1; }
    size_t pictureBytes() const { return (size_t)width * height * 4; }
    size_t canvasBytes() const { return (size_t)canvasWidth * canvasHeight * 4; }
};

constexpr int MAX_PICTURE_WIDTH = 4096;
constexpr int MAX_CANVAS_SIDE = 8192;
constexpr int MAX_SUBFRAMES = 64;

// "WxH" with positive decimal numbers and nothing else; false otherwise.
bool parseSize(const char *text, int *width, int *height);

std::string sizeText(int width, int height);

// Why a picture size cannot be drawn ("" if it can): 4:3 (so the width is a
// multiple of 4), at most MAX_PICTURE_WIDTH wide.
std::string pictureSizeProblem(int width, int height);

// Copies an RGBA picture into the middle of an RGBA canvas of the format
// whose bars the caller has made black once.
void placeOnCanvas(const FrameFormat &format, const unsigned char *picture, unsigned char *canvas);
