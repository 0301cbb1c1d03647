// Spinmap View: pictures of measurement data files, so that a rotation can be
// checked by eye. Each input becomes one panel covering its whole camera
// frame; panels stand left to right in command-line order with a gap between
// them, and all share one colour scale. The picture is an 8-bit RGB PNG.
//
// Size: at -Scale N each camera pixel is a block of N x N picture pixels; at
// -Scale 1/N each picture pixel shows the mean of the valid values of the
// N x N camera pixels it covers (ragged at the right and bottom edges), or
// no data where it covers none. Without -Scale, panels that together would
// be wider than DEFAULT_PANELS_WIDTH pixels are drawn at the largest size
// 1/N that keeps them within it, and the legend says so. Everything drawn
// beside the panels (titles, legend, marks, gaps) grows with the panels'
// width, one text unit for every UNIT_WIDTH pixels, so that the picture
// fitted to a 1,600-pixel-wide screen stays readable.
//
// Colours of a panel:
// - Height pictures: each valid height goes through HEIGHT_COLOURS (a
//   perceptual sequential map, dark blue-violet to yellow); invalid heights
//   and every camera pixel outside the height window are NO_HEIGHT_COLOUR, a
//   neutral dark grey that no map entry equals.
// - Intensity pictures (-Intensity): the first intensity frame in grey, index
//   i of the scale drawn as (i, i, i); camera pixels outside the intensity
//   window are NO_INTENSITY_COLOUR, a dark blue-grey that no grey level equals.
// - Fiducials of the header (groups A to D) as marks over either kind, in
//   FIDUCIAL_STYLES, group A first and D last (a later group covers an
//   earlier one where they meet), clipped at the frame edge.
// - Gaps between panels, the margins and the space below a shorter panel
//   are BACKGROUND_COLOUR.
//
// Above each panel stands its title, the file name as given (shortened in
// the middle to fit), and under it, for heights, the peak-to-valley and RMS
// of its valid heights in nanometres (file units when it has no height
// scale); below each panel a scale bar in millimetres from the header's
// lateral resolution (camera pixels when it has none). Right of the panels
// the legend: the colour bar with its two ends' values and its ticks
// (nanometres of surface height and, smaller, file units; file units only
// when the files drawn together disagree on that scale; intensity counts for
// -Intensity), the fiducial groups present with their marks, the size when
// it is not one picture pixel per camera pixel, and for -Intensity a caption
// on what the intensity shows. Text is drawn in the viewer's own bitmap font
// (font.h), from UTF-8.
//
// The colour scale runs from lo to hi: the -Range values, or the 0.5th and
// 99.5th percentiles (nearest rank) of the values of the files (not of the
// means drawn), over all inputs together. Values beyond the scale take its
// end colours.
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

#include <spinmap/datafile/datafile.h>
#include "view/colour_map.h"

namespace spinmap {

inline constexpr const char* VIEW_TOOL_NAME = "Spinmap View";

inline constexpr rgb NO_HEIGHT_COLOUR = {60, 60, 60};
inline constexpr rgb NO_INTENSITY_COLOUR = {36, 48, 84};
inline constexpr rgb BACKGROUND_COLOUR = {255, 255, 255};

// Text units between two panels, and around everything.
inline constexpr int PANEL_GAP = 8;
inline constexpr int PICTURE_MARGIN = 8;
// -Scale N enlarges up to 16 times; -Scale 1/N shrinks up to 64 times.
inline constexpr int MAX_SCALE = 16;
inline constexpr int MAX_SHRINK = 64;
// Without -Scale, panels wider together than this are drawn smaller.
inline constexpr int64_t DEFAULT_PANELS_WIDTH = 2400;
// One text unit (picture pixels of one font pixel of the smallest text) for
// every so many picture pixels of the panels' width, at most MAX_TEXT_UNIT.
inline constexpr int64_t UNIT_WIDTH = 1000;
inline constexpr int MAX_TEXT_UNIT = 64;

// Scale index of every value when the scale has no extent (lo == hi).
inline constexpr int MIDDLE_INDEX = 128;

// A fiducial mark reaches this many blocks from its centre block each way.
// A block is one camera pixel's block at -Scale N, or a text unit's square
// when that is larger; its centre block lies on the picture pixel that
// shows the fiducial's nearest camera pixel.
inline constexpr int FIDUCIAL_ARM = 3;

// "+", "x", a hollow square and a hollow diamond.
enum class mark_shape { plus, cross, square, diamond };

struct fiducial_style {
    char group;
    rgb colour;
    mark_shape shape;
};

// Groups A, B, C and D: four hues far apart and four shapes, so that no two
// groups look alike at normal size.
inline constexpr fiducial_style FIDUCIAL_STYLES[4] = {
    {'A', {255, 0, 0}, mark_shape::plus},       // red +
    {'B', {0, 255, 255}, mark_shape::cross},    // cyan x
    {'C', {255, 0, 255}, mark_shape::square},   // magenta square
    {'D', {255, 136, 0}, mark_shape::diamond},  // orange diamond
};

// True when the pixel (dx, dy) from a mark's centre belongs to the mark,
// for |dx| and |dy| up to arm.
constexpr bool mark_covers(mark_shape shape, int dx, int dy, int arm) {
    const int ax = dx < 0 ? -dx : dx;
    const int ay = dy < 0 ? -dy : dy;
    if (ax > arm || ay > arm) return false;
    switch (shape) {
        case mark_shape::plus: return ax == 0 || ay == 0;
        case mark_shape::cross: return ax == ay;
        case mark_shape::square: return ax == arm || ay == arm;
        case mark_shape::diamond: return ax + ay == arm;
    }
    return false;
}

// ---- Command line ------------------------------------------------------------

struct view_settings {
    std::vector<std::string> inputs;  // in command-line order
    std::string output;               // the last file name
    bool scale_given = false;         // else a size that fits DEFAULT_PANELS_WIDTH
    int scale = 1;                    // -Scale N
    int shrink = 1;                   // -Scale 1/N
    bool has_range = false;
    bool range_in_nm = false;  // -Range Lo nm,Hi nm: nanometres of surface height
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

// One input as drawn: its name as given (the panel's title), its header
// (camera size, height scale, lateral resolution and fiducials), the one
// matrix the picture needs, the other left empty, and, for heights, the
// peak-to-valley and RMS of its valid heights in file units. It owns its
// matrices.
struct view_panel {
    std::string name;
    HeaderRecord header{};
    owned_height height;
    owned_intensity intensity;
    bool measured = false;  // peak_to_valley and rms hold the heights'
    double peak_to_valley = 0;
    double rms = 0;
};

// What a picture looks like, beyond its panels.
struct view_look {
    int scale;       // 1..MAX_SCALE picture pixels a camera pixel
    bool intensity;  // draw the first intensity frame, not the heights
    double lo;       // the colour scale
    double hi;
    int shrink = 1;  // camera pixels a picture pixel, each way; scale is then 1
};

// Picture pixels of a camera extent: camera_pixels x scale, or
// ceil(camera_pixels / shrink).
int64_t drawn_extent(int64_t camera_pixels, const view_look& look);

// The shrink a picture of the panels gets without -Scale: the least N >= 1
// at which the panels' widths, each ceil(CameraWidth / N), add up to at most
// DEFAULT_PANELS_WIDTH (a panel is never narrower than one pixel); 1 for
// panels without a positive camera width.
int default_shrink(const view_panel* panels, std::size_t count);

// The nanometres of surface height that one height count of every panel
// stands for: IntfScaleFactor x ObliquityFactor x WavelengthIn / counts per
// fringe (metres) x 1e9, when that is the same positive finite number for
// all of them; false when it is not (the files disagree, or a file has no
// usable scale), *nm_per_count then untouched.
bool common_height_scale(const view_panel* panels, std::size_t count, double* nm_per_count);

// ---- Legend and layout -----------------------------------------------------------

// One thing drawn outside the panels, in picture pixels: a filled box, a
// line of text (every font pixel a text_scale x text_scale block), a
// fiducial mark (every mark pixel a block of that size), or the colour bar
// (text_scale rows for each colour, the last colour of the scale at the top).
struct legend_item {
    enum class kind { box, text, mark, bar } what;
    int64_t x;
    int64_t y;
    int64_t width;
    int64_t height;
    rgb colour;               // box, text
    std::string text;         // text
    int text_scale = 1;       // text, mark, bar
    mark_shape shape{};       // mark
};

// Text width in pixels at a text scale (no trailing blank column), a
// character being what font.h decodes from the UTF-8 text.
int64_t text_width(std::string_view text, int text_scale);

// The name shortened in the middle, "head...tail", to at most max_chars
// characters (at least 5), never inside a character's bytes; a name that
// fits stays as it is.
std::string shortened_name(std::string_view name, std::size_t max_chars);

// The labelled values of a scale from lo to hi: multiples of the largest
// step among 1, 2 and 5 times a power of ten that gives at least min_count
// of them within lo..hi, ascending; *step receives the step. Ends whose
// difference is not a positive finite number give lo alone (nothing when lo
// is not finite); a scale too narrow for its magnitude gives its two ends.
std::vector<double> scale_ticks(double lo, double hi, int min_count, double* step);

// Where everything goes: each panel's first column, the first row of the
// panels, the picture's size and everything drawn beside the panels.
struct picture_layout {
    uint32_t width = 0;
    uint32_t height = 0;
    int unit = 1;  // picture pixels of one font pixel of the smallest text
    int64_t panel_top = 0;
    std::vector<int64_t> panel_left;
    int64_t legend_left = 0;
    // The colour bar: `unit` rows per scale index, 255 at the top, its first
    // column bar_left; a tick is `unit` rows high, from tick_left on.
    int64_t bar_left = 0;
    int64_t bar_top = 0;
    int64_t tick_left = 0;
    std::vector<legend_item> items;
};

// Lays out the picture of the panels. ERR_DATASET_DIM_TOO_LARGE when a side
// exceeds the 2^31 - 1 pixels a PNG can hold; ERR_INVALID_PARAM for no
// panels, a panel without a positive camera size, a size out of its range
// (or both enlarged and shrunk), or a colour scale that is not finite;
// ERR_NO_MEM.
int lay_out_picture(const view_panel* panels, std::size_t count, const view_look& look, picture_layout* layout);

// Writes the picture of the panels as an 8-bit RGB PNG, row by row, through
// a temporary beside the target (platform.h): the target is replaced only
// when the whole picture was written. It holds one picture row and, when
// shrinking, a sum and a count for each pixel of it; never the picture. ERR_CANT_CREATE_FILE when the output
// cannot be opened, ERR_CANT_WRITE_FILE when writing or committing fails,
// ERR_NO_MEM, or a code of lay_out_picture(); on failure nothing is left
// behind.
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
