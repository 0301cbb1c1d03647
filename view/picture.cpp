// The picture: panels laid side by side, each camera row drawn once into a
// picture row and written as many times as the scale asks, with the
// fiducial marks over it; the titles and the legend drawn row by row from
// the layout's items.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "view/font.h"
#include "view/view.h"

namespace spinmap {

namespace {

// A mark centre farther than this from the origin cannot reach a frame of
// 16-bit size; such points (and NaNs) are skipped before any conversion.
constexpr double FAR_AWAY = 65536;

// One camera pixel of a fiducial mark, inside the frame.
struct mark_pixel {
    int32_t x;
    int32_t y;
    rgb colour;
};

struct panel_plan {
    const view_panel* panel;
    uint64_t left;                     // first picture column
    std::vector<mark_pixel> marks;     // in drawing order
};

struct picture_plan {
    view_look look;
    picture_layout layout;
    std::vector<panel_plan> panels;
    std::vector<uint8_t> row;  // one picture row, R G B per pixel
    int32_t drawn_camera_row = -1;
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

void add_mark_pixel(int32_t x, int32_t y, rgb colour, const HeaderRecord& h, std::vector<mark_pixel>* out) {
    if (x >= 0 && y >= 0 && x < h.CameraWidth && y < h.CameraHeight) out->push_back({x, y, colour});
}

// The pixels of one mark about the pixel nearest to (fx, fy), coordinates
// rounded half away from zero; nothing for a NaN or a point far away.
void add_mark(float fx, float fy, const fiducial_style& style, const HeaderRecord& h,
               std::vector<mark_pixel>* out) {
    const double x = fx;
    const double y = fy;
    if (!(std::fabs(x) <= FAR_AWAY) || !(std::fabs(y) <= FAR_AWAY)) return;
    const auto cx = static_cast<int32_t>(std::round(x));
    const auto cy = static_cast<int32_t>(std::round(y));
    for (int32_t dy = -FIDUCIAL_ARM; dy <= FIDUCIAL_ARM; ++dy) {
        for (int32_t dx = -FIDUCIAL_ARM; dx <= FIDUCIAL_ARM; ++dx) {
            if (mark_covers(style.shape, dx, dy, FIDUCIAL_ARM)) add_mark_pixel(cx + dx, cy + dy, style.colour, h, out);
        }
    }
}

// Groups A to D in order, each its first count points (at most its room).
std::vector<mark_pixel> marks_of(const HeaderRecord& h) {
    const struct {
        int16_t count;
        const float* coordinates;
    } groups[4] = {
        {h.FiducialCountA, h.FiducialCoordsA},
        {h.FiducialCountB, h.FiducialCoordsB},
        {h.FiducialCountC, h.FiducialCoordsC},
        {h.FiducialCountD, h.FiducialCoordsD},
    };
    std::vector<mark_pixel> pixels;
    for (int g = 0; g < 4; ++g) {
        const int points = std::min<int>(groups[g].count, FIDUCIAL_ROOM);
        for (int i = 0; i < points; ++i) {
            add_mark(groups[g].coordinates[2 * i], groups[g].coordinates[2 * i + 1], FIDUCIAL_STYLES[g], h, &pixels);
        }
    }
    return pixels;
}

// ---- Drawing one camera row --------------------------------------------------------

void put(uint8_t* row, uint64_t column, rgb colour, int count) {
    uint8_t* p = row + column * 3;
    for (int i = 0; i < count; ++i, p += 3) {
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

void draw_heights(const panel_plan& p, const view_look& look, int32_t cy, uint8_t* row) {
    const height_matrix& m = p.panel->height;
    const int32_t frame_width = p.panel->header.CameraWidth;
    int32_t first = 0;
    int32_t last = 0;
    covered_columns(m.window, cy, frame_width, &first, &last);
    const int n = look.scale;
    for (int32_t cx = 0; cx < first; ++cx) put(row, p.left + uint64_t(cx) * n, NO_HEIGHT_COLOUR, n);
    if (first < last) {
        const int32_t* values = m.matrix + static_cast<std::size_t>(cy - m.window.y) * m.window.width;
        for (int32_t cx = first; cx < last; ++cx) {
            const int32_t v = values[cx - m.window.x];
            const rgb colour = is_valid_height(v) ? HEIGHT_COLOURS[colour_index(v, look.lo, look.hi)] : NO_HEIGHT_COLOUR;
            put(row, p.left + uint64_t(cx) * n, colour, n);
        }
    }
    for (int32_t cx = last; cx < frame_width; ++cx) put(row, p.left + uint64_t(cx) * n, NO_HEIGHT_COLOUR, n);
}

// The first frame only: it comes first in the array.
void draw_intensity(const panel_plan& p, const view_look& look, int32_t cy, uint8_t* row) {
    const intensity_matrix& m = p.panel->intensity;
    const int32_t frame_width = p.panel->header.CameraWidth;
    int32_t first = 0;
    int32_t last = 0;
    covered_columns(m.window, cy, frame_width, &first, &last);
    const int n = look.scale;
    for (int32_t cx = 0; cx < first; ++cx) put(row, p.left + uint64_t(cx) * n, NO_INTENSITY_COLOUR, n);
    if (first < last) {
        const uint16_t* values = m.matrix + static_cast<std::size_t>(cy - m.window.y) * m.window.width;
        for (int32_t cx = first; cx < last; ++cx) {
            const auto level = static_cast<uint8_t>(colour_index(values[cx - m.window.x], look.lo, look.hi));
            put(row, p.left + uint64_t(cx) * n, rgb{level, level, level}, n);
        }
    }
    for (int32_t cx = last; cx < frame_width; ++cx) put(row, p.left + uint64_t(cx) * n, NO_INTENSITY_COLOUR, n);
}

void draw_camera_row(picture_plan* plan, int32_t cy) {
    uint8_t* row = plan->row.data();
    const int n = plan->look.scale;
    // Gaps, and panels shorter than this row.
    std::memset(row, BACKGROUND_COLOUR.r, plan->row.size());
    static_assert(BACKGROUND_COLOUR.r == BACKGROUND_COLOUR.g && BACKGROUND_COLOUR.g == BACKGROUND_COLOUR.b);
    for (const panel_plan& p : plan->panels) {
        if (cy >= p.panel->header.CameraHeight) continue;
        if (plan->look.intensity) {
            draw_intensity(p, plan->look, cy, row);
        } else {
            draw_heights(p, plan->look, cy, row);
        }
        for (const mark_pixel& c : p.marks) {
            if (c.y == cy) put(row, p.left + uint64_t(c.x) * n, c.colour, n);
        }
    }
    plan->drawn_camera_row = cy;
}

// ---- Titles and legend -------------------------------------------------------------

// Columns [x, x + count) of the row, clipped to it.
void put_clipped(uint8_t* row, int64_t row_width, int64_t x, rgb colour, int64_t count) {
    const int64_t first = std::max<int64_t>(x, 0);
    const int64_t last = std::min<int64_t>(x + count, row_width);
    if (first < last) put(row, static_cast<uint64_t>(first), colour, static_cast<int>(last - first));
}

// Row dy (from the item's top) of one legend item.
void draw_item_row(const legend_item& item, bool intensity, int64_t dy, uint8_t* row, int64_t row_width) {
    switch (item.what) {
        case legend_item::kind::box:
            put_clipped(row, row_width, item.x, item.colour, item.width);
            return;
        case legend_item::kind::bar: {
            const int index = MAP_COLOURS - 1 - static_cast<int>(dy);
            const auto level = static_cast<uint8_t>(index);
            put_clipped(row, row_width, item.x, intensity ? rgb{level, level, level} : HEIGHT_COLOURS[index], item.width);
            return;
        }
        case legend_item::kind::text: {
            const int glyph_row = static_cast<int>(dy / item.text_scale);
            int64_t x = item.x;
            for (const char c : item.text) {
                const glyph_rows& glyph = glyph_of(c);
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

// Picture row y: the camera row of every panel it crosses (drawn once per
// camera row, as the panels never reach the legend), then whatever the
// titles and the legend put on it.
const uint8_t* picture_row(void* context, uint32_t y) {
    auto* plan = static_cast<picture_plan*>(context);
    const picture_layout& layout = plan->layout;
    const int64_t width = layout.width;
    uint8_t* row = plan->row.data();
    const int64_t panel_row = int64_t{y} - layout.panel_top;
    if (panel_row >= 0) {
        const auto cy = static_cast<int32_t>(panel_row / plan->look.scale);
        if (cy != plan->drawn_camera_row) draw_camera_row(plan, cy);
        std::memset(row + layout.legend_left * 3, BACKGROUND_COLOUR.r, static_cast<std::size_t>(width - layout.legend_left) * 3);
    } else {
        std::memset(row, BACKGROUND_COLOUR.r, plan->row.size());
        plan->drawn_camera_row = -1;
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
        for (std::size_t i = 0; i < count; ++i) {
            plan->panels.push_back(
                {&panels[i], static_cast<uint64_t>(plan->layout.panel_left[i]), marks_of(panels[i].header)});
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
