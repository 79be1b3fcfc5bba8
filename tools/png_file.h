#pragma once

#include <cstdio>

// Writes an 8-bit RGBA image, rows top first, as an RGB PNG (alpha dropped). level is zlib's
// compression level; filtering is off, which costs little size on these
// pictures and most of the time. Returns false with the reason in why.
bool writePng(std::FILE *file, const unsigned char *rgba, int width, int height, int level,
              const char **why);
