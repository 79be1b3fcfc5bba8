#include "tools/png_file.h"

#include <csetjmp>
#include <png.h>

static void pngError(png_structp png, png_const_charp message) {
    *(const char **)png_get_error_ptr(png) = message;
    std::longjmp(png_jmpbuf(png), 1);
}

static void pngWarning(png_structp, png_const_charp) {}

bool writePng(std::FILE *file, const unsigned char *rgba, int width, int height, int level,
              const char **why) {
    // Reached from libpng's error callback across a longjmp, hence not a local.
    static thread_local const char *message;
    message = "cannot create PNG writer";
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, pngError, pngWarning);
    if (!png) {
        *why = message;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        *why = message;
        return false;
    }
    png_init_io(png, file);
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
    return true;
}
