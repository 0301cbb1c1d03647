// Where the panels, their titles and the legend go, and what the legend
// says: the colour bar with its ticks, the fiducial groups, the captions.
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
constexpr int LARGE = 2;  // text scale of titles and nanometre labels
constexpr int SMALL = 1;  // text scale of file-unit labels and captions

constexpr int64_t TITLE_TO_PANEL = 6;
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

int64_t text_height(int text_scale) { return int64_t{GLYPH_HEIGHT} * text_scale; }

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

// Decimals that show every multiple of step: none for a step of 1 or more,
// at most 15.
int decimals_of(double step) {
    if (!(step > 0) || !std::isfinite(step)) return 0;
    return std::clamp(-static_cast<int>(std::floor(std::log10(step) + 1e-9)), 0, 15);
}

struct legend_builder {
    picture_layout* layout;
    int64_t left;  // the legend's first column
    int64_t y;     // the next free row

    void text(int64_t x, int64_t top, std::string words, int scale, rgb colour) {
        const int64_t width = text_width(words, scale);
        layout->items.push_back({legend_item::kind::text, x, top, width, text_height(scale), colour, std::move(words),
                                 scale, mark_shape::plus});
    }
    void box(int64_t x, int64_t top, int64_t width, int64_t height, rgb colour) {
        layout->items.push_back({legend_item::kind::box, x, top, width, height, colour, {}, 1, mark_shape::plus});
    }
    // A line of text at the left edge, moving down past it.
    void line(std::string words, int scale, rgb colour, int64_t space_after) {
        text(left, y, std::move(words), scale, colour);
        y += text_height(scale) + space_after;
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

// The colour bar, framed, with a tick and its labels at every labelled
// value. nm_per_count is 0 when the ticks are in file units.
void add_colour_bar(legend_builder* b, const view_look& look, double nm_per_count) {
    const int64_t left = b->left;
    b->y += text_height(LARGE) / 2;  // room for the top label
    const int64_t top = b->y;
    b->layout->bar_top = top;
    b->layout->items.push_back(
        {legend_item::kind::bar, left, top, BAR_WIDTH, MAP_COLOURS, TEXT_COLOUR, {}, 1, mark_shape::plus});
    b->box(left - 1, top - 1, BAR_WIDTH + 2, 1, TEXT_COLOUR);
    b->box(left - 1, top + MAP_COLOURS, BAR_WIDTH + 2, 1, TEXT_COLOUR);
    b->box(left - 1, top, 1, MAP_COLOURS, TEXT_COLOUR);
    b->box(left + BAR_WIDTH, top, 1, MAP_COLOURS, TEXT_COLOUR);

    const bool in_nm = nm_per_count > 0;
    const double k = in_nm ? nm_per_count : 1;
    double step = 1;
    const std::vector<double> ticks =
        look.lo < look.hi ? scale_ticks(look.lo * k, look.hi * k, MIN_TICKS, &step) : std::vector<double>{look.lo * k};
    const int label_decimals = decimals_of(step);
    const int unit_decimals = decimals_of(step / k);
    for (const double value : ticks) {
        const double units = value / k;
        const int64_t row = top + (MAP_COLOURS - 1) - colour_index(units, look.lo, look.hi);
        const int64_t tick_left = left + BAR_WIDTH + 1;
        b->box(tick_left, row, TICK_LENGTH, 1, TEXT_COLOUR);
        // Far enough from the tick that it cannot read as a minus sign.
        const int64_t label_left = tick_left + TICK_LENGTH + 2 * LABEL_GAP;
        std::string label = fixed(value, label_decimals);
        if (in_nm) label += " nm";
        const int64_t label_width = text_width(label, LARGE);
        b->text(label_left, row - (GLYPH_HEIGHT - 1) * LARGE / 2, std::move(label), LARGE, TEXT_COLOUR);
        if (in_nm) {
            b->text(label_left + label_width + 2 * LABEL_GAP, row - (GLYPH_HEIGHT - 1) * SMALL / 2,
                    fixed(units, unit_decimals), SMALL, SMALL_TEXT_COLOUR);
        }
    }
    b->y = top + MAP_COLOURS + text_height(LARGE) / 2 + 2 * LABEL_GAP;
}

// Each fiducial group that any panel holds: its mark on a swatch of the
// no-data colour, and its letter.
void add_fiducial_key(legend_builder* b, const view_panel* panels, std::size_t count) {
    bool present[4] = {};
    for (std::size_t i = 0; i < count; ++i) {
        const HeaderRecord& h = panels[i].header;
        const int16_t counts[4] = {h.FiducialCountA, h.FiducialCountB, h.FiducialCountC, h.FiducialCountD};
        for (int g = 0; g < 4; ++g) present[g] = present[g] || counts[g] > 0;
    }
    if (std::none_of(std::begin(present), std::end(present), [](bool p) { return p; })) {
        b->line("No fiducials", SMALL, SMALL_TEXT_COLOUR, 8);
        return;
    }
    b->line("Fiducials", LARGE, TEXT_COLOUR, 6);
    constexpr int64_t mark_size = (2 * FIDUCIAL_ARM + 1) * LARGE;
    for (int g = 0; g < 4; ++g) {
        if (!present[g]) continue;
        const fiducial_style& style = FIDUCIAL_STYLES[g];
        b->box(b->left, b->y, KEY_SWATCH, KEY_SWATCH, NO_HEIGHT_COLOUR);
        const int64_t inset = (KEY_SWATCH - mark_size) / 2;
        b->layout->items.push_back({legend_item::kind::mark, b->left + inset, b->y + inset, mark_size, mark_size,
                                    style.colour, {}, LARGE, style.shape});
        b->text(b->left + KEY_SWATCH + 2 * LABEL_GAP, b->y + (KEY_SWATCH - (GLYPH_HEIGHT - 1) * LARGE) / 2,
                std::string("group ") + style.group, LARGE, TEXT_COLOUR);
        b->y += KEY_SWATCH + LABEL_GAP;
    }
    b->y += LABEL_GAP;
}

// Each panel's title above it: at the large size when five characters fit
// the panel's width, else small, shortened to fit.
void add_titles(picture_layout* layout, const view_panel* panels, std::size_t count, int scale) {
    for (std::size_t i = 0; i < count; ++i) {
        const int64_t panel_width = int64_t{panels[i].header.CameraWidth} * scale;
        const int text_scale = (panel_width + LARGE) / (GLYPH_ADVANCE * LARGE) >= 5 ? LARGE : SMALL;
        const auto fits = static_cast<std::size_t>((panel_width + text_scale) / (GLYPH_ADVANCE * text_scale));
        std::string title = shortened_name(panels[i].name, fits);
        const int64_t width = text_width(title, text_scale);
        const int64_t top = layout->panel_top - TITLE_TO_PANEL - text_height(text_scale);
        layout->items.push_back({legend_item::kind::text, layout->panel_left[i], top, width, text_height(text_scale),
                                 TEXT_COLOUR, std::move(title), text_scale, mark_shape::plus});
    }
}

int lay_out(const view_panel* panels, std::size_t count, const view_look& look, picture_layout* layout) {
    layout->panel_top = PICTURE_MARGIN + text_height(LARGE) + TITLE_TO_PANEL;
    int64_t right = PICTURE_MARGIN;
    int64_t bottom = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const HeaderRecord& header = panels[i].header;
        if (header.CameraWidth <= 0 || header.CameraHeight <= 0) return ERR_INVALID_PARAM;
        if (i > 0) right += PANEL_GAP;
        layout->panel_left.push_back(right);
        right += int64_t{header.CameraWidth} * look.scale;
        bottom = std::max(bottom, layout->panel_top + int64_t{header.CameraHeight} * look.scale);
        // Checked at every step: the sum cannot wrap before it is seen.
        if (right > MAX_SIDE) return ERR_DATASET_DIM_TOO_LARGE;
    }
    add_titles(layout, panels, count, look.scale);

    double nm_per_count = 0;
    const bool in_nm = !look.intensity && common_height_scale(panels, count, &nm_per_count);
    legend_builder b{layout, right + PANELS_TO_LEGEND, PICTURE_MARGIN};
    layout->legend_left = b.left;
    add_bar_title(&b, look.intensity, in_nm, count);
    add_colour_bar(&b, look, in_nm ? nm_per_count : 0);
    add_fiducial_key(&b, panels, count);
    if (look.intensity) {
        for (const char* caption : INTENSITY_CAPTION) b.line(caption, SMALL, SMALL_TEXT_COLOUR, 2);
    }

    for (const legend_item& item : layout->items) {
        right = std::max(right, item.x + item.width);
        bottom = std::max(bottom, item.y + item.height);
    }
    const int64_t width = right + PICTURE_MARGIN;
    const int64_t height = bottom + PICTURE_MARGIN;
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

int64_t text_width(std::string_view text, int text_scale) {
    if (text.empty()) return 0;
    return (static_cast<int64_t>(text.size()) * GLYPH_ADVANCE - 1) * text_scale;
}

std::string shortened_name(std::string_view name, std::size_t max_chars) {
    constexpr std::string_view ELLIPSIS = "...";
    max_chars = std::max<std::size_t>(max_chars, 5);
    if (name.size() <= max_chars) return std::string(name);
    const std::size_t kept = max_chars - ELLIPSIS.size();
    const std::size_t head = (kept + 1) / 2;
    const std::size_t tail = kept - head;
    return std::string(name.substr(0, head)) + std::string(ELLIPSIS) + std::string(name.substr(name.size() - tail));
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
    if (!std::isfinite(look.lo) || !std::isfinite(look.hi) || !(look.lo <= look.hi)) return ERR_INVALID_PARAM;
    *layout = picture_layout{};
    try {
        return lay_out(panels, count, look, layout);
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
}

}  // namespace spinmap
