// Where the panels and everything around them go, and what it says: each
// panel's title, figures and scale bar; the legend's colour bar with its
// ends and ticks, the fiducial groups, the picture's size, the captions.
// Everything is measured in text units, which grow with the panels' width.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "view/font.h"
#include "view/view.h"

namespace spinmap {

namespace {

// A PNG side holds at most 2^31 - 1 pixels.
constexpr int64_t MAX_SIDE = 0x7FFFFFFF;

constexpr rgb TEXT_COLOUR = {0, 0, 0};
constexpr rgb SMALL_TEXT_COLOUR = {80, 80, 80};
// Text scales in text units.
constexpr int LARGE = 2;  // titles, the bar's values and ticks in nanometres
constexpr int SMALL = 1;  // everything else

// Distances in text units.
constexpr int64_t TITLE_TO_STATS = 3;
constexpr int64_t STATS_TO_PANEL = 5;
constexpr int64_t TITLE_TO_PANEL = 6;  // intensity: no statistics line
constexpr int64_t PANEL_TO_SCALE_BAR = 6;
constexpr int64_t SCALE_BAR_THICKNESS = 3;
constexpr int64_t PANELS_TO_LEGEND = 24;
constexpr int64_t BAR_WIDTH = 24;
constexpr int64_t TICK_LENGTH = 6;
constexpr int64_t LABEL_GAP = 4;
constexpr int64_t KEY_SWATCH = 20;
constexpr int MIN_TICKS = 5;
// No sensible scale asks for more labels than this; a scale so narrow
// against its magnitude that it would gets its two ends labelled instead.
constexpr int MAX_TICKS = 50;

constexpr const char* INTENSITY_CAPTION[] = {
    "Intensity is carried through a rotation",
    "unchanged: on a rotated file the marks",
    "stand where the rotated heights are,",
    "not where this intensity shows them.",
};

// Tick labels: fixed decimals, and never a minus sign before a zero; six
// digits and an exponent for magnitudes beyond a fixed label's width.
std::string fixed(double value, int decimals) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
    char text[64];
    if (std::fabs(value) >= 1e15) {
        std::snprintf(text, sizeof text, "%.6g", value);
    } else {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    }
    return text;
}

// fixed() without the zeros that end its decimals.
std::string trimmed(double value, int decimals) {
    std::string text = fixed(value, decimals);
    if (text.find('.') == std::string::npos || text.find('e') != std::string::npos) return text;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

// Decimals that show every multiple of step: none for a step of 1 or more,
// at most 15.
int decimals_of(double step) {
    if (!(step > 0) || !std::isfinite(step)) return 0;
    return std::clamp(-static_cast<int>(std::floor(std::log10(step) + 1e-9)), 0, 15);
}

// Four significant digits, without an exponent.
std::string significant(double value) {
    const double magnitude = std::fabs(value);
    const int decimals = magnitude > 0 ? std::clamp(3 - static_cast<int>(std::floor(std::log10(magnitude))), 0, 6) : 0;
    return fixed(value, decimals);
}

// The largest of 1, 2 and 5 times a power of ten that is at most limit
// (limit positive and finite), within a millionth: a limit a hair below a
// round value, as single-precision header fields give, still reaches it.
double round_length(double limit) {
    const double reach = limit * (1 + 1e-6);
    const double power = std::pow(10.0, std::floor(std::log10(reach)));
    for (const double multiple : {5.0, 2.0}) {
        if (multiple * power <= reach) return multiple * power;
    }
    return power;
}

// Everything is measured in text units: n units are n * unit pixels.
struct legend_builder {
    picture_layout* layout;
    int64_t left;  // the legend's first column
    int64_t y;     // the next free row

    int64_t units(int64_t n) const { return n * layout->unit; }
    int scale(int text_scale) const { return text_scale * layout->unit; }
    int64_t height_of(int text_scale) const { return int64_t{GLYPH_HEIGHT} * scale(text_scale); }

    // Text whose glyphs' top row is top; returns its width.
    int64_t text(int64_t x, int64_t top, std::string words, int text_scale, rgb colour) {
        const int pixel = scale(text_scale);
        const int64_t width = text_width(words, pixel);
        layout->items.push_back({legend_item::kind::text, x, top, width, int64_t{GLYPH_HEIGHT} * pixel, colour,
                                 std::move(words), pixel, mark_shape::plus});
        return width;
    }
    // Text whose capitals are centred on the row.
    int64_t text_on_row(int64_t x, int64_t row, std::string words, int text_scale, rgb colour) {
        return text(x, row - int64_t{GLYPH_CAP_MIDDLE} * scale(text_scale), std::move(words), text_scale, colour);
    }
    void box(int64_t x, int64_t top, int64_t width, int64_t height, rgb colour) {
        layout->items.push_back({legend_item::kind::box, x, top, width, height, colour, {}, 1, mark_shape::plus});
    }
    // A line of text at the left edge, moving down past it and the space
    // after it (text units).
    void line(std::string words, int text_scale, rgb colour, int64_t space_after) {
        text(left, y, std::move(words), text_scale, colour);
        y += height_of(text_scale) + units(space_after);
    }
};

// The bar's title: what its values are, in which unit.
void add_bar_title(legend_builder* b, bool intensity, bool in_nm, std::size_t files) {
    if (intensity) {
        b->line("Intensity, first frame", LARGE, TEXT_COLOUR, 2);
        b->line("camera counts", SMALL, SMALL_TEXT_COLOUR, 4);
    } else if (in_nm) {
        b->line("Surface height, nm", LARGE, TEXT_COLOUR, 2);
        b->line("small figures: file units", SMALL, SMALL_TEXT_COLOUR, 4);
    } else {
        b->line("Height, file units", LARGE, TEXT_COLOUR, 2);
        b->line(files > 1 ? "no nm: the files differ in height scale" : "no nm: the file has no height scale", SMALL,
                SMALL_TEXT_COLOUR, 4);
    }
}

// One value of the bar: in nanometres with its file units beside it, small,
// or in file units (intensity counts) alone. k is 1 without nanometres.
void add_value(legend_builder* b, int64_t x, int64_t row, double units, double k, bool in_nm, int decimals,
               int unit_decimals, std::string (*format)(double, int)) {
    std::string label = format(units * k, decimals);
    if (in_nm) label += " nm";
    const int64_t width = b->text_on_row(x, row, std::move(label), LARGE, TEXT_COLOUR);
    if (in_nm) {
        b->text_on_row(x + width + b->units(2 * LABEL_GAP), row, format(units, unit_decimals), SMALL,
                       SMALL_TEXT_COLOUR);
    }
}

// The colour bar, framed: its top and bottom values above and below it, a
// tick and its labels at every round value. nm_per_count is 0 when the
// values are in file units.
void add_colour_bar(legend_builder* b, const view_look& look, double nm_per_count) {
    picture_layout* layout = b->layout;
    const int64_t left = b->left;
    const int64_t u = layout->unit;
    const int64_t bar_height = int64_t{MAP_COLOURS} * u;
    const bool in_nm = nm_per_count > 0;
    const double k = in_nm ? nm_per_count : 1;
    double step = 1;
    const std::vector<double> ticks =
        look.lo < look.hi ? scale_ticks(look.lo * k, look.hi * k, MIN_TICKS, &step) : std::vector<double>{look.lo * k};
    const int label_decimals = decimals_of(step);
    const int unit_decimals = decimals_of(step / k);

    // The top value, clear of the top tick's label below it.
    const int64_t large_half = b->height_of(LARGE) / 2;
    add_value(b, left, b->y + large_half, look.hi, k, in_nm, label_decimals + 1, unit_decimals + 1, trimmed);
    const int64_t top = b->y + 2 * large_half + large_half + b->units(LABEL_GAP);
    layout->bar_left = left;
    layout->bar_top = top;
    layout->tick_left = left + BAR_WIDTH * u + 1;
    layout->items.push_back(
        {legend_item::kind::bar, left, top, BAR_WIDTH * u, bar_height, TEXT_COLOUR, {}, static_cast<int>(u), {}});
    b->box(left - u, top - u, (BAR_WIDTH + 2) * u, u, TEXT_COLOUR);
    b->box(left - u, top + bar_height, (BAR_WIDTH + 2) * u, u, TEXT_COLOUR);
    b->box(left - u, top, u, bar_height, TEXT_COLOUR);
    b->box(left + BAR_WIDTH * u, top, u, bar_height, TEXT_COLOUR);

    for (const double value : ticks) {
        const double units = value / k;
        const int64_t row = top + (MAP_COLOURS - 1 - colour_index(units, look.lo, look.hi)) * u;
        b->box(layout->tick_left, row, TICK_LENGTH * u, u, TEXT_COLOUR);
        // Far enough from the tick that it cannot read as a minus sign; the
        // label's capitals centred on the tick's rows.
        const int64_t label_left = layout->tick_left + (TICK_LENGTH + 2 * LABEL_GAP) * u;
        add_value(b, label_left, row + u / 2, units, k, in_nm, label_decimals, unit_decimals, fixed);
    }
    const int64_t bottom_row = top + bar_height + u + b->units(LABEL_GAP) + 2 * large_half;
    add_value(b, left, bottom_row, look.lo, k, in_nm, label_decimals + 1, unit_decimals + 1, trimmed);
    b->y = bottom_row + large_half + b->units(2 * LABEL_GAP);
}

// Each fiducial group that any panel holds: its mark on a swatch of the
// no-data colour, and its letter.
void add_fiducial_key(legend_builder* b, const view_panel* panels, std::size_t count) {
    bool present[FIDUCIAL_GROUPS] = {};
    for (std::size_t i = 0; i < count; ++i) {
        const auto groups = fiducial_groups(panels[i].header);
        for (int g = 0; g < FIDUCIAL_GROUPS; ++g) present[g] = present[g] || groups[g].count > 0;
    }
    if (std::none_of(std::begin(present), std::end(present), [](bool p) { return p; })) {
        b->line("No fiducials", SMALL, SMALL_TEXT_COLOUR, 8);
        return;
    }
    b->line("Fiducials", LARGE, TEXT_COLOUR, 6);
    const int mark_pixel = b->scale(LARGE);
    const int64_t mark_size = (2 * FIDUCIAL_ARM + 1) * int64_t{mark_pixel};
    const int64_t swatch = b->units(KEY_SWATCH);
    for (int g = 0; g < FIDUCIAL_GROUPS; ++g) {
        if (!present[g]) continue;
        const fiducial_style& style = FIDUCIAL_STYLES[g];
        b->box(b->left, b->y, swatch, swatch, NO_HEIGHT_COLOUR);
        const int64_t inset = (swatch - mark_size) / 2;
        b->layout->items.push_back({legend_item::kind::mark, b->left + inset, b->y + inset, mark_size, mark_size,
                                    style.colour, {}, mark_pixel, style.shape});
        b->text_on_row(b->left + swatch + b->units(2 * LABEL_GAP), b->y + swatch / 2, std::string("group ") + style.group,
                       LARGE, TEXT_COLOUR);
        b->y += swatch + b->units(LABEL_GAP);
    }
    b->y += b->units(LABEL_GAP);
}

// The picture's size, when it is not one picture pixel per camera pixel.
void add_size_note(legend_builder* b, const view_look& look) {
    if (look.shrink > 1) {
        const std::string n = std::to_string(look.shrink);
        b->line("Drawn at 1/" + n + " size:", LARGE, TEXT_COLOUR, 2);
        b->line("each pixel is the mean of the", SMALL, SMALL_TEXT_COLOUR, 2);
        b->line(std::string(look.intensity ? "values" : "valid heights") + " of " + n + " x " + n + " camera pixels",
                SMALL, SMALL_TEXT_COLOUR, 8);
    } else if (look.scale > 1) {
        const std::string n = std::to_string(look.scale);
        b->line("Drawn at " + n + " x size:", LARGE, TEXT_COLOUR, 2);
        b->line("each camera pixel is " + n + " x " + n + " pixels", SMALL, SMALL_TEXT_COLOUR, 8);
    }
}

// What stands above and below one panel: its title, the peak-to-valley and
// RMS of its heights, and its scale bar, with its column's width (the
// panel's, or wider when the texts need it).
struct panel_texts {
    std::string stats;
    std::string scale_label;
    int64_t scale_length = 0;  // picture pixels
    int64_t column = 0;
};

std::string statistics_text(const view_panel& p) {
    const double k = nanometres_per_count(p.header);
    if (std::isfinite(k) && k > 0) {
        return "PV " + significant(p.peak_to_valley * k) + " nm, RMS " + significant(p.rms * k) + " nm";
    }
    return "PV " + significant(p.peak_to_valley) + ", RMS " + significant(p.rms) + " (file units)";
}

// A round length of at most a quarter of the panel's width: millimetres of
// the part from the lateral resolution, or camera pixels.
void choose_scale_bar(const view_panel& p, const view_look& look, int64_t panel_width, panel_texts* t) {
    const double camera_per_pixel = static_cast<double>(look.shrink) / look.scale;
    const double metres = p.header.CameraRes;
    const bool in_mm = std::isfinite(metres) && metres > 0;
    const double per_pixel = in_mm ? metres * 1000 * camera_per_pixel : camera_per_pixel;
    const double limit = std::max<double>(static_cast<double>(panel_width) / 4, 1) * per_pixel;
    const double length = in_mm ? round_length(limit) : std::max(1.0, round_length(limit));
    t->scale_length = std::max<int64_t>(1, std::llround(length / per_pixel));
    t->scale_label = fixed(length, decimals_of(length)) + (in_mm ? " mm" : " camera px");
}

int64_t scale_bar_width(const legend_builder& b, const panel_texts& t) {
    return t.scale_length + b.units(LABEL_GAP) + text_width(t.scale_label, b.scale(SMALL));
}

// The title, shortened to its column: at the large size when five
// characters fit, else small.
void add_title(legend_builder* b, const view_panel& p, int64_t left, int64_t column) {
    const int text_scale = (column + b->scale(LARGE)) / (GLYPH_ADVANCE * b->scale(LARGE)) >= 5 ? LARGE : SMALL;
    const auto fits = static_cast<std::size_t>((column + b->scale(text_scale)) / (GLYPH_ADVANCE * b->scale(text_scale)));
    const int64_t slot_bottom = b->units(PICTURE_MARGIN) + b->height_of(LARGE);
    b->text(left, slot_bottom - b->height_of(text_scale), shortened_name(p.name, fits), text_scale, TEXT_COLOUR);
}

void add_scale_bar(legend_builder* b, const panel_texts& t, int64_t left, int64_t top) {
    const int64_t middle = top + b->units(GLYPH_CAP_MIDDLE);
    b->box(left, middle - b->units(SCALE_BAR_THICKNESS) / 2, t.scale_length, b->units(SCALE_BAR_THICKNESS),
           TEXT_COLOUR);
    b->text(left + t.scale_length + b->units(LABEL_GAP), top, t.scale_label, SMALL, TEXT_COLOUR);
}

// The text unit of panels drawn so wide in all: one for every UNIT_WIDTH
// pixels begun.
int text_unit(int64_t panels_width) {
    return static_cast<int>(std::clamp<int64_t>((panels_width + UNIT_WIDTH - 1) / UNIT_WIDTH, 1, MAX_TEXT_UNIT));
}

int lay_out(const view_panel* panels, std::size_t count, const view_look& look, picture_layout* layout) {
    int64_t panels_width = 0;
    int64_t panels_height = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const HeaderRecord& header = panels[i].header;
        if (header.CameraWidth <= 0 || header.CameraHeight <= 0) return ERR_INVALID_PARAM;
        panels_width += drawn_extent(header.CameraWidth, look);
        panels_height = std::max(panels_height, drawn_extent(header.CameraHeight, look));
        // Checked at every step: the sum cannot wrap before it is seen.
        if (panels_width > MAX_SIDE) return ERR_DATASET_DIM_TOO_LARGE;
    }
    layout->unit = text_unit(panels_width);
    legend_builder b{layout, 0, 0};

    layout->panel_top = b.units(PICTURE_MARGIN) + b.height_of(LARGE) +
                        (look.intensity ? b.units(TITLE_TO_PANEL)
                                        : b.units(TITLE_TO_STATS) + b.height_of(SMALL) + b.units(STATS_TO_PANEL));
    const int64_t scale_bar_top = layout->panel_top + panels_height + b.units(PANEL_TO_SCALE_BAR);
    int64_t right = b.units(PICTURE_MARGIN);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) right += b.units(PANEL_GAP);
        const view_panel& p = panels[i];
        const int64_t width = drawn_extent(p.header.CameraWidth, look);
        panel_texts t;
        choose_scale_bar(p, look, width, &t);
        t.column = std::max(width, scale_bar_width(b, t));
        if (!look.intensity && p.measured) {
            t.stats = statistics_text(p);
            t.column = std::max(t.column, text_width(t.stats, b.scale(SMALL)));
        }
        layout->panel_left.push_back(right);
        add_title(&b, p, right, t.column);
        if (!t.stats.empty()) {
            b.text(right, b.units(PICTURE_MARGIN) + b.height_of(LARGE) + b.units(TITLE_TO_STATS), std::move(t.stats),
                   SMALL, TEXT_COLOUR);
        }
        add_scale_bar(&b, t, right, scale_bar_top);
        right += t.column;
        if (right > MAX_SIDE) return ERR_DATASET_DIM_TOO_LARGE;
    }

    double nm_per_count = 0;
    const bool in_nm = !look.intensity && common_height_scale(panels, count, &nm_per_count);
    b.left = right + b.units(PANELS_TO_LEGEND);
    b.y = b.units(PICTURE_MARGIN);
    layout->legend_left = b.left;
    add_bar_title(&b, look.intensity, in_nm, count);
    add_colour_bar(&b, look, in_nm ? nm_per_count : 0);
    add_fiducial_key(&b, panels, count);
    add_size_note(&b, look);
    if (look.intensity) {
        for (const char* caption : INTENSITY_CAPTION) b.line(caption, SMALL, SMALL_TEXT_COLOUR, 2);
    }

    int64_t bottom = 0;
    for (const legend_item& item : layout->items) {
        right = std::max(right, item.x + item.width);
        bottom = std::max(bottom, item.y + item.height);
    }
    const int64_t width = right + b.units(PICTURE_MARGIN);
    const int64_t height = bottom + b.units(PICTURE_MARGIN);
    if (width > MAX_SIDE || height > MAX_SIDE) return ERR_DATASET_DIM_TOO_LARGE;
    layout->width = static_cast<uint32_t>(width);
    layout->height = static_cast<uint32_t>(height);
    return 0;
}

}  // namespace

bool common_height_scale(const view_panel* panels, std::size_t count, double* nm_per_count) {
    if (count == 0) return false;
    const double first = nanometres_per_count(panels[0].header);
    if (!std::isfinite(first) || !(first > 0)) return false;
    for (std::size_t i = 1; i < count; ++i) {
        if (nanometres_per_count(panels[i].header) != first) return false;
    }
    *nm_per_count = first;
    return true;
}

int64_t drawn_extent(int64_t camera_pixels, const view_look& look) {
    return look.shrink > 1 ? (camera_pixels + look.shrink - 1) / look.shrink : camera_pixels * look.scale;
}

int default_shrink(const view_panel* panels, std::size_t count) {
    int widest = 1;
    for (std::size_t i = 0; i < count; ++i) widest = std::max<int>(widest, panels[i].header.CameraWidth);
    for (int n = 1;; ++n) {
        int64_t width = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const int64_t w = panels[i].header.CameraWidth;
            if (w > 0) width += (w + n - 1) / n;
        }
        // At the widest panel's width every panel is one pixel: no smaller.
        if (width <= DEFAULT_PANELS_WIDTH || n >= widest) return n;
    }
}

int64_t text_width(std::string_view text, int text_scale) {
    const std::size_t characters = character_count(text);
    if (characters == 0) return 0;
    return (static_cast<int64_t>(characters) * GLYPH_ADVANCE - 1) * text_scale;
}

std::string shortened_name(std::string_view name, std::size_t max_chars) {
    constexpr std::string_view ELLIPSIS = "...";
    max_chars = std::max<std::size_t>(max_chars, 5);
    // Where each character begins, and the end.
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < name.size();) {
        starts.push_back(pos);
        next_character(name, &pos);
    }
    const std::size_t characters = starts.size();
    if (characters <= max_chars) return std::string(name);
    starts.push_back(name.size());
    const std::size_t kept = max_chars - ELLIPSIS.size();
    const std::size_t head = (kept + 1) / 2;
    const std::size_t tail = kept - head;
    return std::string(name.substr(0, starts[head])) + std::string(ELLIPSIS) +
           std::string(name.substr(starts[characters - tail]));
}

std::vector<double> scale_ticks(double lo, double hi, int min_count, double* step) {
    // Steps in falling order, 5, 2 and 1 times each power of ten, from the
    // first that could hold one value per decade of the span; a tolerance of
    // a millionth of a step keeps an end that arithmetic put a hair outside.
    const double span = hi - lo;
    if (!(span > 0) || !std::isfinite(span)) {
        // Ends that arithmetic made equal or endless: the low end alone.
        *step = 1;
        return std::isfinite(lo) ? std::vector<double>{lo} : std::vector<double>{};
    }
    const int top_power = static_cast<int>(std::floor(std::log10(span)));
    for (int power = top_power; power > top_power - 4; --power) {
        for (const double multiple : {5.0, 2.0, 1.0}) {
            const double s = multiple * std::pow(10.0, power);
            const double first = std::ceil(lo / s - 1e-6);
            const double last = std::floor(hi / s + 1e-6);
            const double n = last - first + 1;
            if (!(n >= min_count)) continue;
            if (n > MAX_TICKS) break;
            std::vector<double> ticks;
            for (int i = 0; i < static_cast<int>(n); ++i) ticks.push_back((first + i) * s);
            *step = s;
            return ticks;
        }
    }
    *step = span;
    return {lo, hi};
}

int lay_out_picture(const view_panel* panels, std::size_t count, const view_look& look, picture_layout* layout) {
    if (count == 0 || look.scale < 1 || look.scale > MAX_SCALE) return ERR_INVALID_PARAM;
    if (look.shrink < 1 || (look.shrink > 1 && look.scale > 1)) return ERR_INVALID_PARAM;
    if (!std::isfinite(look.lo) || !std::isfinite(look.hi) || !(look.lo <= look.hi)) return ERR_INVALID_PARAM;
    *layout = picture_layout{};
    try {
        return lay_out(panels, count, look, layout);
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
}

}  // namespace spinmap
