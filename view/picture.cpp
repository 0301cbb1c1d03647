// The picture: panels laid side by side, each camera row drawn once into a
// picture row and written as many times as the scale asks, with the
// fiducial crosses over it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "view/view.h"

namespace spinmap {

namespace {

// A PNG side holds at most 2^31 - 1 pixels.
constexpr uint64_t MAX_SIDE = 0x7FFFFFFF;

// A cross centre farther than this from the origin cannot reach a frame of
// 16-bit size; such points (and NaNs) are skipped before any conversion.
constexpr double FAR_AWAY = 65536;

// One camera pixel of a cross, inside the frame.
struct cross_pixel {
    int32_t x;
    int32_t y;
    rgb colour;
};

struct panel_plan {
    const view_panel* panel;
    uint32_t left;                    // first picture column
    std::vector<cross_pixel> crosses;  // in drawing order
};

struct picture_plan {
    view_look look;
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

// ---- Fiducial crosses ------------------------------------------------------------

void add_cross_pixel(int32_t x, int32_t y, rgb colour, const HeaderRecord& h, std::vector<cross_pixel>* out) {
    if (x >= 0 && y >= 0 && x < h.CameraWidth && y < h.CameraHeight) out->push_back({x, y, colour});
}

// The pixels of one cross about the pixel nearest to (fx, fy), coordinates
// rounded half away from zero; nothing for a NaN or a point far away.
void add_cross(float fx, float fy, const fiducial_style& style, const HeaderRecord& h,
               std::vector<cross_pixel>* out) {
    const double x = fx;
    const double y = fy;
    if (!(std::fabs(x) <= FAR_AWAY) || !(std::fabs(y) <= FAR_AWAY)) return;
    const auto cx = static_cast<int32_t>(std::round(x));
    const auto cy = static_cast<int32_t>(std::round(y));
    for (int32_t d = -FIDUCIAL_ARM; d <= FIDUCIAL_ARM; ++d) {
        if (style.shape == cross_shape::upright) {
            add_cross_pixel(cx + d, cy, style.colour, h, out);
            add_cross_pixel(cx, cy + d, style.colour, h, out);
        } else {
            add_cross_pixel(cx + d, cy + d, style.colour, h, out);
            add_cross_pixel(cx + d, cy - d, style.colour, h, out);
        }
    }
}

// Groups A to D in order, each its first count points (at most its room).
std::vector<cross_pixel> crosses_of(const HeaderRecord& h) {
    const struct {
        int16_t count;
        const float* coordinates;
    } groups[4] = {
        {h.FiducialCountA, h.FiducialCoordsA},
        {h.FiducialCountB, h.FiducialCoordsB},
        {h.FiducialCountC, h.FiducialCoordsC},
        {h.FiducialCountD, h.FiducialCoordsD},
    };
    std::vector<cross_pixel> pixels;
    for (int g = 0; g < 4; ++g) {
        const int points = std::min<int>(groups[g].count, FIDUCIAL_ROOM);
        for (int i = 0; i < points; ++i) {
            add_cross(groups[g].coordinates[2 * i], groups[g].coordinates[2 * i + 1], FIDUCIAL_STYLES[g], h, &pixels);
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
        for (const cross_pixel& c : p.crosses) {
            if (c.y == cy) put(row, p.left + uint64_t(c.x) * n, c.colour, n);
        }
    }
    plan->drawn_camera_row = cy;
}

// Picture row y is camera row y / scale of every panel.
const uint8_t* picture_row(void* context, uint32_t y) {
    auto* plan = static_cast<picture_plan*>(context);
    const auto cy = static_cast<int32_t>(y / static_cast<uint32_t>(plan->look.scale));
    if (cy != plan->drawn_camera_row) draw_camera_row(plan, cy);
    return plan->row.data();
}

// Everything the rows need, made before the output is opened, so that
// nothing can run out of memory while it is being written.
int make_plan(const view_panel* panels, std::size_t count, const view_look& look, uint32_t width,
              picture_plan* plan) {
    try {
        plan->look = look;
        plan->row.assign(static_cast<std::size_t>(width) * 3, 0);
        uint64_t left = 0;
        for (std::size_t i = 0; i < count; ++i) {
            plan->panels.push_back({&panels[i], static_cast<uint32_t>(left), crosses_of(panels[i].header)});
            left += static_cast<uint64_t>(panels[i].header.CameraWidth) * look.scale + PANEL_GAP;
        }
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
    return 0;
}

}  // namespace

int picture_size(const view_panel* panels, std::size_t count, int scale, uint32_t* width, uint32_t* height) {
    if (count == 0 || scale < 1 || scale > MAX_SCALE) return ERR_INVALID_PARAM;
    uint64_t w = 0;
    uint64_t h = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const HeaderRecord& header = panels[i].header;
        if (header.CameraWidth <= 0 || header.CameraHeight <= 0) return ERR_INVALID_PARAM;
        if (i > 0) w += PANEL_GAP;
        w += static_cast<uint64_t>(header.CameraWidth) * scale;
        h = std::max<uint64_t>(h, static_cast<uint64_t>(header.CameraHeight) * scale);
        // Checked at every step: the sum cannot wrap before it is seen.
        if (w > MAX_SIDE) return ERR_DATASET_DIM_TOO_LARGE;
    }
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(h);
    return 0;
}

int write_view_picture(std::string_view path, const view_panel* panels, std::size_t count, const view_look& look) {
    uint32_t width = 0;
    uint32_t height = 0;
    int code = picture_size(panels, count, look.scale, &width, &height);
    if (code != 0) return code;
    if (!std::isfinite(look.lo) || !std::isfinite(look.hi) || !(look.lo <= look.hi)) return ERR_INVALID_PARAM;
    for (std::size_t i = 0; i < count; ++i) {
        if (!drawable(panels[i], look.intensity)) return ERR_INVALID_PARAM;
    }
    picture_plan plan;
    code = make_plan(panels, count, look, width, &plan);
    if (code != 0) return code;

    output_file out;
    if (!u_output_open(path, &out)) return ERR_CANT_CREATE_FILE;
    code = write_png_rows(out.stream, width, height, png_row_source{&plan, picture_row});
    if (code != 0) {
        u_output_discard(&out);
        return code;
    }
    return u_output_commit(&out) ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace spinmap
