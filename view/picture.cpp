// The picture: panels laid side by side, each band of camera rows drawn once
// into a row of panel pixels (a camera row at -Scale N, the N camera rows
// of one picture row at -Scale 1/N), copied into every picture row it
// covers with the fiducial marks over it; the titles and the legend drawn
// row by row from the layout's items.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <spinmap/platform/platform.h>
#include "view/font.h"
#include "view/view.h"

namespace spinmap {

namespace {

// A mark centre farther than this from the origin cannot reach a frame of
// 16-bit size; such points (and NaNs) are skipped before any conversion.
constexpr double FAR_AWAY = 65536;

// One block of a fiducial mark in a panel's picture pixels, clipped to the
// panel.
struct mark_box {
    int64_t x;
    int64_t y;
    int64_t width;
    int64_t height;
    rgb colour;
};

struct panel_plan {
    const view_panel* panel;
    int64_t left;    // first picture column
    int64_t width;   // picture pixels
    int64_t height;
    std::vector<mark_box> marks;  // in drawing order
};

struct picture_plan {
    view_look look;
    picture_layout layout;
    std::vector<panel_plan> panels;
    std::vector<uint8_t> band;  // the panels' pixels of the band last drawn, R G B, the whole width
    std::vector<uint8_t> row;   // the picture row handed out
    // Shrinking: the sum and count of the valid values under each pixel of
    // one panel's row.
    std::vector<int64_t> sums;
    std::vector<int64_t> counts;
    int64_t drawn_band = -1;
};

bool has_elements(const window& w, uint32_t size, int frames) {
    if (w.width < 0 || w.height < 0) return false;
    return static_cast<uint64_t>(w.width) * static_cast<uint64_t>(w.height) * static_cast<uint64_t>(frames) <= size;
}

// The drawn matrix of a panel is present and its window lies within its
// array, so that no row read can leave it.
bool drawable(const view_panel& p, bool intensity) {
    if (p.header.CameraWidth <= 0 || p.header.CameraHeight <= 0) return false;
    if (intensity) {
        return p.intensity.matrix != nullptr && p.intensity.n_buckets >= 1 &&
               has_elements(p.intensity.window, p.intensity.size, 1);
    }
    return p.height.matrix != nullptr && has_elements(p.height.window, p.height.size, 1);
}

// ---- Fiducial marks ------------------------------------------------------------

int64_t floor_divide(int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0); }

// The picture pixel (either axis) that shows camera pixel c: the middle of
// its block, or the pixel whose mean takes it in.
int64_t picture_pixel(int64_t c, const view_look& look) {
    return look.shrink > 1 ? floor_divide(c, look.shrink) : c * look.scale + look.scale / 2;
}

// The blocks of one mark about the camera pixel nearest to (fx, fy),
// coordinates rounded half away from zero; nothing for a NaN or a point far
// away.
void add_mark(float fx, float fy, const fiducial_style& style, const view_look& look, int64_t block,
              const panel_plan& p, std::vector<mark_box>* out) {
    const double x = fx;
    const double y = fy;
    if (!(std::fabs(x) <= FAR_AWAY) || !(std::fabs(y) <= FAR_AWAY)) return;
    const int64_t left = picture_pixel(static_cast<int64_t>(std::round(x)), look) - block / 2;
    const int64_t top = picture_pixel(static_cast<int64_t>(std::round(y)), look) - block / 2;
    for (int dy = -FIDUCIAL_ARM; dy <= FIDUCIAL_ARM; ++dy) {
        for (int dx = -FIDUCIAL_ARM; dx <= FIDUCIAL_ARM; ++dx) {
            if (!mark_covers(style.shape, dx, dy, FIDUCIAL_ARM)) continue;
            const int64_t x0 = std::max<int64_t>(left + dx * block, 0);
            const int64_t y0 = std::max<int64_t>(top + dy * block, 0);
            const int64_t x1 = std::min(left + (dx + 1) * block, p.width);
            const int64_t y1 = std::min(top + (dy + 1) * block, p.height);
            if (x0 < x1 && y0 < y1) out->push_back({x0, y0, x1 - x0, y1 - y0, style.colour});
        }
    }
}

// Groups A to D in order, each its first count points (at most its room).
std::vector<mark_box> marks_of(const panel_plan& p, const view_look& look, int unit) {
    const auto groups = fiducial_groups(p.panel->header);
    const int64_t block = look.shrink > 1 ? unit : std::max(look.scale, unit);
    std::vector<mark_box> boxes;
    for (int g = 0; g < FIDUCIAL_GROUPS; ++g) {
        const int points = std::min<int>(groups[g].count, FIDUCIAL_ROOM);
        for (int i = 0; i < points; ++i) {
            add_mark(groups[g].coordinates[2 * i], groups[g].coordinates[2 * i + 1], FIDUCIAL_STYLES[g], look, block,
                     p, &boxes);
        }
    }
    return boxes;
}

// ---- Drawing the panels ------------------------------------------------------------

void put(uint8_t* row, uint64_t column, rgb colour, int64_t count) {
    uint8_t* p = row + column * 3;
    for (int64_t i = 0; i < count; ++i, p += 3) {
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
    }
}

// The columns [first, last) of camera row cy that a data window covers
// within the frame; first == last when it covers none.
void covered_columns(const window& w, int32_t cy, int32_t frame_width, int32_t* first, int32_t* last) {
    *first = 0;
    *last = 0;
    if (cy < w.y || cy >= int32_t{w.y} + w.height) return;
    *first = std::max<int32_t>(w.x, 0);
    *last = std::min<int32_t>(int32_t{w.x} + w.width, frame_width);
    if (*last < *first) *last = *first;
}

// What each kind of picture draws: its matrix, which of its values count,
// and their colours.
struct height_kind {
    static const height_matrix& matrix(const view_panel& p) { return p.height; }
    static bool counts(int32_t v) { return is_valid_height(v); }
    static rgb colour(double value, const view_look& look) { return HEIGHT_COLOURS[colour_index(value, look.lo, look.hi)]; }
    static constexpr rgb NONE = NO_HEIGHT_COLOUR;
};

// The first frame only: it comes first in the array.
struct intensity_kind {
    static const intensity_matrix& matrix(const view_panel& p) { return p.intensity; }
    static bool counts(uint16_t) { return true; }
    static rgb colour(double value, const view_look& look) {
        const auto level = static_cast<uint8_t>(colour_index(value, look.lo, look.hi));
        return {level, level, level};
    }
    static constexpr rgb NONE = NO_INTENSITY_COLOUR;
};

// Camera row cy of a panel, each camera pixel a block of `scale` pixels.
template <class Kind>
void draw_scaled(const panel_plan& p, const view_look& look, int32_t cy, uint8_t* row) {
    const auto& m = Kind::matrix(*p.panel);
    const int32_t frame_width = p.panel->header.CameraWidth;
    int32_t first = 0;
    int32_t last = 0;
    covered_columns(m.window, cy, frame_width, &first, &last);
    const int n = look.scale;
    uint8_t* const out = row + p.left * 3;
    if (first > 0) put(out, 0, Kind::NONE, int64_t{first} * n);
    if (first < last) {
        const auto* values = m.matrix + static_cast<std::size_t>(cy - m.window.y) * m.window.width;
        for (int32_t cx = first; cx < last; ++cx) {
            const auto v = values[cx - m.window.x];
            put(out, uint64_t(cx) * n, Kind::counts(v) ? Kind::colour(v, look) : Kind::NONE, n);
        }
    }
    if (last < frame_width) put(out, uint64_t(last) * n, Kind::NONE, int64_t{frame_width - last} * n);
}

// Picture row py of a shrunk panel: the mean of the counted values of the
// camera rows and columns each pixel covers.
template <class Kind>
void draw_shrunk(const panel_plan& p, const view_look& look, int64_t py, picture_plan* plan, uint8_t* row) {
    const auto& m = Kind::matrix(*p.panel);
    const int32_t frame_width = p.panel->header.CameraWidth;
    const int32_t s = look.shrink;
    int64_t* const sums = plan->sums.data();
    int64_t* const counts = plan->counts.data();
    std::fill_n(sums, p.width, 0);
    std::fill_n(counts, p.width, 0);
    const auto y0 = static_cast<int32_t>(py * s);
    const int32_t y1 = std::min<int32_t>(y0 + s, p.panel->header.CameraHeight);
    for (int32_t cy = y0; cy < y1; ++cy) {
        int32_t first = 0;
        int32_t last = 0;
        covered_columns(m.window, cy, frame_width, &first, &last);
        if (first >= last) continue;
        // values[i] is camera column window.x + i.
        const auto* values = m.matrix + static_cast<std::size_t>(cy - m.window.y) * m.window.width;
        for (int32_t block = first / s; block * s < last; ++block) {
            const int32_t end = std::min(block * s + s, last) - m.window.x;
            int64_t sum = 0;
            int64_t count = 0;
            for (int32_t i = std::max(block * s, first) - m.window.x; i < end; ++i) {
                if (!Kind::counts(values[i])) continue;
                sum += values[i];
                ++count;
            }
            sums[block] += sum;
            counts[block] += count;
        }
    }
    uint8_t* const out = row + p.left * 3;
    for (int64_t x = 0; x < p.width; ++x) {
        const rgb colour = counts[x] > 0 ? Kind::colour(static_cast<double>(sums[x]) / static_cast<double>(counts[x]), look)
                                         : Kind::NONE;
        put(out, uint64_t(x), colour, 1);
    }
}

template <class Kind>
void draw_panel(const panel_plan& p, picture_plan* plan, int64_t band, uint8_t* row) {
    if (plan->look.shrink > 1) {
        if (band < p.height) draw_shrunk<Kind>(p, plan->look, band, plan, row);
    } else if (band < p.panel->header.CameraHeight) {
        draw_scaled<Kind>(p, plan->look, static_cast<int32_t>(band), row);
    }
}

// The panels' pixels of a band: a camera row, or a shrunk picture row.
void draw_band(picture_plan* plan, int64_t band) {
    uint8_t* row = plan->band.data();
    // Gaps, and panels shorter than this row.
    std::memset(row, BACKGROUND_COLOUR.r, plan->band.size());
    static_assert(BACKGROUND_COLOUR.r == BACKGROUND_COLOUR.g && BACKGROUND_COLOUR.g == BACKGROUND_COLOUR.b);
    for (const panel_plan& p : plan->panels) {
        if (plan->look.intensity) {
            draw_panel<intensity_kind>(p, plan, band, row);
        } else {
            draw_panel<height_kind>(p, plan, band, row);
        }
    }
    plan->drawn_band = band;
}

// ---- Titles and legend -------------------------------------------------------------

// Columns [x, x + count) of the row, clipped to it.
void put_clipped(uint8_t* row, int64_t row_width, int64_t x, rgb colour, int64_t count) {
    const int64_t first = std::max<int64_t>(x, 0);
    const int64_t last = std::min<int64_t>(x + count, row_width);
    if (first < last) put(row, static_cast<uint64_t>(first), colour, last - first);
}

// Row dy (from the item's top) of one legend item.
void draw_item_row(const legend_item& item, bool intensity, int64_t dy, uint8_t* row, int64_t row_width) {
    switch (item.what) {
        case legend_item::kind::box:
            put_clipped(row, row_width, item.x, item.colour, item.width);
            return;
        case legend_item::kind::bar: {
            // text_scale rows for each index.
            const int index = MAP_COLOURS - 1 - static_cast<int>(dy / item.text_scale);
            const auto level = static_cast<uint8_t>(index);
            put_clipped(row, row_width, item.x, intensity ? rgb{level, level, level} : HEIGHT_COLOURS[index], item.width);
            return;
        }
        case legend_item::kind::text: {
            const int glyph_row = static_cast<int>(dy / item.text_scale);
            int64_t x = item.x;
            for (std::size_t pos = 0; pos < item.text.size();) {
                const glyph_rows& glyph = glyph_for(next_character(item.text, &pos));
                for (int column = 0; column < GLYPH_WIDTH; ++column) {
                    if (glyph_lit(glyph, glyph_row, column)) {
                        put_clipped(row, row_width, x + int64_t{column} * item.text_scale, item.colour, item.text_scale);
                    }
                }
                x += int64_t{GLYPH_ADVANCE} * item.text_scale;
            }
            return;
        }
        case legend_item::kind::mark: {
            const int my = static_cast<int>(dy / item.text_scale) - FIDUCIAL_ARM;
            for (int mx = -FIDUCIAL_ARM; mx <= FIDUCIAL_ARM; ++mx) {
                if (mark_covers(item.shape, mx, my, FIDUCIAL_ARM)) {
                    put_clipped(row, row_width, item.x + int64_t{mx + FIDUCIAL_ARM} * item.text_scale, item.colour,
                                item.text_scale);
                }
            }
            return;
        }
    }
}

// Picture row y: the band of every panel it crosses (drawn once per band),
// the marks on it, then whatever the titles and the legend put on it.
const uint8_t* picture_row(void* context, uint32_t y) {
    auto* plan = static_cast<picture_plan*>(context);
    const picture_layout& layout = plan->layout;
    const int64_t width = layout.width;
    uint8_t* row = plan->row.data();
    const int64_t panel_row = int64_t{y} - layout.panel_top;
    if (panel_row >= 0) {
        const int64_t band = plan->look.shrink > 1 ? panel_row : panel_row / plan->look.scale;
        if (band != plan->drawn_band) draw_band(plan, band);
        std::memcpy(row, plan->band.data(), plan->row.size());
        for (const panel_plan& p : plan->panels) {
            for (const mark_box& m : p.marks) {
                if (panel_row >= m.y && panel_row < m.y + m.height) put(row, p.left + m.x, m.colour, m.width);
            }
        }
    } else {
        std::memset(row, BACKGROUND_COLOUR.r, plan->row.size());
    }
    for (const legend_item& item : layout.items) {
        const int64_t dy = int64_t{y} - item.y;
        if (dy >= 0 && dy < item.height) draw_item_row(item, plan->look.intensity, dy, row, width);
    }
    return row;
}

// Everything the rows need, made before the output is opened, so that
// nothing can run out of memory while it is being written.
int make_plan(const view_panel* panels, std::size_t count, const view_look& look, picture_plan* plan) {
    int code = lay_out_picture(panels, count, look, &plan->layout);
    if (code != 0) return code;
    try {
        plan->look = look;
        plan->row.assign(static_cast<std::size_t>(plan->layout.width) * 3, 0);
        plan->band.assign(plan->row.size(), 0);
        int64_t widest = 0;
        for (std::size_t i = 0; i < count; ++i) {
            panel_plan p{&panels[i], plan->layout.panel_left[i], drawn_extent(panels[i].header.CameraWidth, look),
                         drawn_extent(panels[i].header.CameraHeight, look), {}};
            p.marks = marks_of(p, look, plan->layout.unit);
            widest = std::max(widest, p.width);
            plan->panels.push_back(std::move(p));
        }
        if (look.shrink > 1) {
            plan->sums.assign(static_cast<std::size_t>(widest), 0);
            plan->counts.assign(static_cast<std::size_t>(widest), 0);
        }
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
    return 0;
}

}  // namespace

int write_view_picture(std::string_view path, const view_panel* panels, std::size_t count, const view_look& look) {
    picture_plan plan;
    int code = make_plan(panels, count, look, &plan);
    if (code != 0) return code;
    for (std::size_t i = 0; i < count; ++i) {
        if (!drawable(panels[i], look.intensity)) return ERR_INVALID_PARAM;
    }

    return u_write_output(path, false, [&](std::FILE* stream) {
        return write_png_rows(stream, plan.layout.width, plan.layout.height, png_row_source{&plan, picture_row});
    });
}

}  // namespace spinmap
