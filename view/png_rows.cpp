// PNG output through libpng, which reports errors by longjmp: the jump lands
// in write_guarded(), which holds no object with a destructor, and passes
// only through libpng's own C frames and the handler below on its way.
#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "view/view.h"

extern "C" {

// libpng's default handlers print; the program reports failures itself.
static void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void png_warned(png_structp, png_const_charp) {}

}  // extern "C"

namespace spinmap {

namespace {

// Fast compression and no row filter: the pictures are for looking at, and a
// large frame must be written in well under a second. Filtering gained
// little on maps with wide no-data areas and cost time.
constexpr int COMPRESSION_LEVEL = 1;

int write_guarded(png_structp png, png_infop info, std::FILE* stream, uint32_t width, uint32_t height,
                  const png_row_source& rows) {
    if (setjmp(png_jmpbuf(png)) != 0) return ERR_CANT_WRITE_FILE;
    png_init_io(png, stream);
    // The default limits (a million pixels a side) guard readers; a picture
    // of many wide panels may exceed them.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, COMPRESSION_LEVEL);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, rows.row(rows.context, y));
    png_write_end(png, info);
    return 0;
}

}  // namespace

int write_png_rows(std::FILE* stream, uint32_t width, uint32_t height, const png_row_source& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
    if (png == nullptr) return ERR_NO_MEM;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return ERR_NO_MEM;
    }
    const int code = write_guarded(png, info, stream, width, height, rows);
    png_destroy_write_struct(&png, &info);
    return code;
}

}  // namespace spinmap
