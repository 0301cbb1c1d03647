// Spinmap View: pictures of measurement data files, so that a rotation can be
// checked by eye. Each input becomes one panel covering its whole camera
// frame, one camera pixel drawn as a block of N x N picture pixels; panels
// stand left to right in command-line order with a gap between them, and all
// share one colour scale. The picture is an 8-bit RGB PNG.
//
// Colours of a panel:
// - Height pictures: each valid height goes through HEIGHT_COLOURS (a
//   perceptual sequential map, dark blue-violet to yellow); invalid heights
//   and every camera pixel outside the height window are NO_HEIGHT_COLOUR, a
//   neutral dark grey that no map entry equals.
// - Intensity pictures (-Intensity): the first intensity frame in grey, index
//   i of the scale drawn as (i, i, i); camera pixels outside the intensity
//   window are NO_INTENSITY_COLOUR, a dark blue-grey that no grey level equals.
// - Fiducials of the header (groups A to D) as crosses over either kind, in
//   FIDUCIAL_STYLES, group A first and D last (a later group covers an
//   earlier one where they meet), clipped at the frame edge.
// - Gaps between panels and the space below a shorter panel are
//   BACKGROUND_COLOUR.
//
// The colour scale runs from lo to hi: the -Range values, or the 0.5th and
// 99.5th percentiles (nearest rank) of the values drawn, over all inputs
// together. Values beyond the scale take its end colours.
//
// Operations return an error code (errors.h) and pass results through
// out-parameters; only spinmap_view_main prints. No exception leaves this
// module: spinmap_view_main turns running out of memory into an error
// message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "datafile/datafile.h"
#include "view/colour_map.h"

namespace spinmap {

inline constexpr const char* VIEW_TOOL_NAME = "Spinmap View";

inline constexpr rgb NO_HEIGHT_COLOUR = {60, 60, 60};
inline constexpr rgb NO_INTENSITY_COLOUR = {36, 48, 84};
inline constexpr rgb BACKGROUND_COLOUR = {255, 255, 255};

// Picture pixels between two panels (not scaled).
inline constexpr int PANEL_GAP = 8;
inline constexpr int MAX_SCALE = 16;

// Scale index of every value when the scale has no extent (lo == hi).
inline constexpr int MIDDLE_INDEX = 128;

// A cross reaches this many camera pixels from its centre pixel along each
// of its four arms; with -Scale N each camera pixel is an N x N block.
inline constexpr int FIDUCIAL_ARM = 3;

enum class cross_shape { upright, diagonal };  // "+" and "x"

struct fiducial_style {
    rgb colour;
    cross_shape shape;
};

// Groups A, B, C and D.
inline constexpr fiducial_style FIDUCIAL_STYLES[4] = {
    {{255, 0, 0}, cross_shape::upright},     // A: red +
    {{255, 0, 255}, cross_shape::diagonal},  // B: magenta x
    {{0, 255, 255}, cross_shape::upright},   // C: cyan +
    {{255, 136, 0}, cross_shape::diagonal},  // D: orange x
};

// ---- Command line ------------------------------------------------------------

struct view_settings {
    std::vector<std::string> inputs;  // in command-line order
    std::string output;               // the last file name
    int scale = 1;
    bool has_range = false;
    double range_lo = 0;
    double range_hi = 0;
    bool intensity = false;
};

// The whole program: parses the arguments (after the program name), reads
// every input, writes the picture, and returns the exit status (0 success,
// 1 the usage text and every failure, each explained on standard error).
int spinmap_view_main(const std::vector<std::string>& args);

// Parses the arguments left to right: options are a dash and a keyword
// (ASCII case-folded) with any value in the next argument, everything else
// is a file name, the last of them the output. False with the message (the
// text after "ERROR: ") on the first bad argument or when fewer than two
// file names were given; settings then hold what was parsed before it.
bool parse_view_arguments(const std::vector<std::string>& args, view_settings* settings, std::string* message);

// A picture may replace only a picture: the output name must end in ".png"
// (any case), and a file already there is replaced only when it is empty or
// begins with the 8-byte PNG signature. False with the message otherwise (a
// data file, a text, a folder, a file that cannot be read).
bool check_picture_target(std::string_view path, std::string* message);

// ---- Colour scale --------------------------------------------------------------

// The nearest-rank percentiles of n values sorted ascending into v[0..n-1]:
// lo = v[ceil(n / 200) - 1] (0.5th) and hi = v[ceil(199 n / 200) - 1]
// (99.5th). Reorders the values (std::nth_element, no full sort).
// ERR_ALL_BAD_DATA for no values (lo and hi untouched).
int percentile_scale(std::vector<int32_t>* values, double* lo, double* hi);

// The scale index 0..255 of a value on the scale lo..hi (lo <= hi, both
// finite). With position = (value - lo) / (hi - lo) * 255, evaluated in
// double in that order, the index is floor(position + 0.5): position rounded
// half up to the nearest whole number, after clamping position to 0..255 so
// that no conversion leaves the int range (a NaN position counts as 0). With
// lo == hi a value below lo is 0, above hi 255, and equal MIDDLE_INDEX.
inline int colour_index(double value, double lo, double hi) {
    if (!(lo < hi)) return value < lo ? 0 : value > hi ? 255 : MIDDLE_INDEX;
    const double position = (value - lo) / (hi - lo) * 255;
    if (!(position > 0)) return 0;
    if (position >= 255) return 255;
    return static_cast<int>(position + 0.5);
}

// ---- Panels and the picture ----------------------------------------------------

// One input as drawn: its header (camera size and fiducials) and the one
// matrix the picture needs, the other left empty. Clear it with
// view_panel_clear() before use and release it with view_panel_free().
struct view_panel {
    HeaderRecord header;
    height_matrix height;
    intensity_matrix intensity;
};

void view_panel_clear(view_panel* panel);
void view_panel_free(view_panel* panel);

// What a picture looks like, beyond its panels.
struct view_look {
    int scale;       // 1..MAX_SCALE
    bool intensity;  // draw the first intensity frame, not the heights
    double lo;       // the colour scale
    double hi;
};

// Picture size in pixels: panels side by side with PANEL_GAP between, as
// tall as the tallest. ERR_DATASET_DIM_TOO_LARGE when a side exceeds the
// 2^31 - 1 pixels a PNG can hold; ERR_INVALID_PARAM for no panels or a panel
// without a positive camera size.
int picture_size(const view_panel* panels, std::size_t count, int scale, uint32_t* width, uint32_t* height);

// Writes the picture of the panels as an 8-bit RGB PNG, row by row, through
// a temporary beside the target (platform.h): the target is replaced only
// when the whole picture was written. ERR_CANT_CREATE_FILE when the output
// cannot be opened, ERR_CANT_WRITE_FILE when writing or committing fails,
// ERR_NO_MEM, or a code of picture_size(); on failure nothing is left behind.
int write_view_picture(std::string_view path, const view_panel* panels, std::size_t count, const view_look& look);

// Supplies picture row y (width * 3 bytes of R, G, B) to write_png_rows.
struct png_row_source {
    void* context;
    const uint8_t* (*row)(void* context, uint32_t y);
};

// Writes a whole 8-bit RGB PNG of width x height (both 1 .. 2^31 - 1) to
// the stream, asking for the rows in order, with fast compression. libpng's
// diagnostics are not printed. ERR_CANT_WRITE_FILE on any libpng failure
// (a short write included), ERR_NO_MEM when libpng cannot start.
int write_png_rows(std::FILE* stream, uint32_t width, uint32_t height, const png_row_source& rows);

}  // namespace spinmap
