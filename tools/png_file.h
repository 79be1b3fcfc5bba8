#pragma once

#include <vector>

// Encodes an 8-bit RGBA image, rows top first, as an RGB PNG (alpha dropped)
// into out. level is zlib's compression level; filtering is off, which costs
// these pictures little size and saves most of the time.
void encodePng(std::vector<unsigned char> *out, const unsigned char *rgba, int width, int height,
               int level);
