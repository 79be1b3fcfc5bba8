#include "tools/png_file.h"

#include <png.h>

static void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

static void flushNothing(png_structp) {}

void encodePng(std::vector<unsigned char> *out, const unsigned char *rgba, int width, int height,
               int level) {
    out->clear();
    // Writing to memory cannot fail short of running out of it, which ends
    // the process anyway; libpng's default error handler aborts then.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, out, appendBytes, flushNothing);
    png_set_compression_level(png, level);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    // The picture's alpha is never seen on screen: drop it.
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rgba + (size_t)y * width * 4);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}
