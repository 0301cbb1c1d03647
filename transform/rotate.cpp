// Rotation geometry: turning points and windows, and matrix_rotate, which
// settles the pivot and the output window, chooses between moving values and
// interpolating, and hands the result to the caller.
#include <algorithm>
#include <cmath>
#include <optional>

#include <spinmap/transform/kernel_support.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// A window in 64-bit fields, so that rotated, clipped and narrowed windows
// can be checked before they are stored in 16 bits.
struct rect {
    int64_t x;
    int64_t y;
    int64_t width;
    int64_t height;
};

rect to_rect(const window& w) { return {w.x, w.y, w.width, w.height}; }

// No rotated corner of a 16-bit window about a pivot that reaches onto any
// 16-bit window lies this far out; beyond it a corner is refused.
constexpr double COORDINATE_LIMIT = 1073741824.0;  // 2^30

// Rounds half away from zero; false for a value that is not a number or lies
// beyond COORDINATE_LIMIT.
bool round_coordinate(double v, int64_t* out) {
    if (!(v > -COORDINATE_LIMIT && v < COORDINATE_LIMIT)) return false;
    *out = static_cast<int64_t>(v >= 0 ? v + 0.5 : v - 0.5);
    return true;
}

// Bounding window of the four corner pixels of w moved by the forward
// rotation about (px, py). Each corner is turned with rotate_point in the
// y-up frame: (X, -Y) about (px, -py), the new Y negated back.
bool rotated_bounds(const window& w, double px, double py, double radians, rect* out) {
    const int32_t right = wn_right(w), bottom = wn_bottom(w);
    const int32_t corners[4][2] = {{w.x, w.y}, {right, w.y}, {w.x, bottom}, {right, bottom}};
    int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;
    for (int k = 0; k < 4; ++k) {
        double x = corners[k][0];
        double y = -static_cast<double>(corners[k][1]);
        rotate_point(&x, &y, px, -py, radians);
        int64_t cx = 0, cy = 0;
        if (!round_coordinate(x, &cx) || !round_coordinate(-y, &cy)) return false;
        min_x = k == 0 ? cx : std::min(min_x, cx);
        max_x = k == 0 ? cx : std::max(max_x, cx);
        min_y = k == 0 ? cy : std::min(min_y, cy);
        max_y = k == 0 ? cy : std::max(max_y, cy);
    }
    *out = {min_x, min_y, max_x - min_x + 1, max_y - min_y + 1};
    return true;
}

// True when the rect is a proper 16-bit window: origin, extent, right column
// and bottom row all in the 16-bit signed range.
bool fits_window(const rect& r) {
    return r.x >= INT16_MIN && r.y >= INT16_MIN && r.width >= 0 && r.height >= 0 && r.x + r.width - 1 <= INT16_MAX &&
           r.y + r.height - 1 <= INT16_MAX;
}

window to_window(const rect& r) {
    return {static_cast<int16_t>(r.x), static_cast<int16_t>(r.y), static_cast<int16_t>(r.width),
            static_cast<int16_t>(r.height)};
}

// The common part of two rects, by the rules of wn_intersect; false when
// they are disjoint.
bool intersect(const rect& a, const rect& b, rect* out) {
    const int64_t a_right = a.x + a.width - 1, a_bottom = a.y + a.height - 1;
    const int64_t b_right = b.x + b.width - 1, b_bottom = b.y + b.height - 1;
    if (a_right < b.x || a.x > b_right || a_bottom < b.y || a.y > b_bottom) return false;
    const int64_t x = std::max(a.x, b.x), y = std::max(a.y, b.y);
    *out = {x, y, std::min(a_right, b_right) - x + 1, std::min(a_bottom, b_bottom) - y + 1};
    return true;
}

// Shrinks an extent that exceeds the given one to exactly the given one,
// moving the origin by half the excess (rounded toward zero), so the kept
// part stays centred.
void narrow_extent(int64_t* origin, int64_t* extent, int64_t given) {
    const int64_t excess = *extent - given;
    if (excess <= 0) return;
    *origin += excess / 2;
    *extent = given;
}

// The result window must hold elements and be walkable in 16-bit
// coordinates.
int check_output_window(const rect& r, window* out) {
    if (r.width <= 0 || r.height <= 0) return ERR_PARAM_OUT_OF_RANGE;
    if (r.x < INT16_MIN || r.y < INT16_MIN || r.x + r.width > INT16_MAX || r.y + r.height > INT16_MAX) {
        return ERR_IMPROPER_WINDOW;
    }
    *out = to_window(r);
    return 0;
}

bool is_bounding(int window_field) { return window_field >= ROT_WIN_BOUNDING; }

rotation_choice choice_of(int mode) {
    switch (mode & ROT_METHOD_MASK) {
        case ROT_INTERP:
            return rotation_choice::interpolate;
        case ROT_NO_INTERP:
            return rotation_choice::no_interp;
        default:
            return rotation_choice::automatic;
    }
}

// Puts the pivot the pivot field names into the request, before any
// adjustment. The bounding modes turn about the centre of the matrix window
// whatever the pivot field says, though its errors still count. Has no
// effect beyond the request, so its error may be reported after the plan's
// refusal.
int settle_pivot(const height_matrix& matrix, const double* pivot_x, const double* pivot_y, int mode,
                 rotation_request* request) {
    int error = 0;
    switch (mode & ROT_PIVOT_MASK) {
        case ROT_PIVOT_VALID_CENTER:
            error = matrix_valid_center(&matrix, &request->pivot_x, &request->pivot_y);
            request->pivot_computed = true;
            break;
        case ROT_PIVOT_WINDOW_CENTER:
            wn_center(matrix.window, &request->pivot_x, &request->pivot_y);
            request->pivot_computed = true;
            break;
        default:  // ROT_PIVOT_GIVEN
            if (pivot_x == nullptr || pivot_y == nullptr) return ERR_INVALID_PARAM;
            request->pivot_x = *pivot_x;
            request->pivot_y = *pivot_y;
            break;
    }
    if (error == 0 && is_bounding(mode & ROT_WIN_MASK)) {
        wn_center(matrix.window, &request->pivot_x, &request->pivot_y);
        request->pivot_computed = false;
    }
    return error;
}

// The output window by the window field, about the planned pivot.
int settle_output_window(const height_matrix& matrix, const window* out_window, int window_field, double r,
                         double px, double py, window* out) {
    const window& own = matrix.window;
    const double radians = r / DEGREES_PER_RADIAN;
    rect chosen{};
    switch (window_field) {
        case ROT_WIN_CLIPPED: {
            rect bounds{};
            // A corner beyond the coordinate limit lies far from every 16-bit window.
            if (!rotated_bounds(own, px, py, radians, &bounds)) return ERR_WINDOWS_DISJOINT;
            if (!intersect(bounds, to_rect(out_window != nullptr ? *out_window : own), &chosen)) {
                return ERR_WINDOWS_DISJOINT;
            }
            break;
        }
        case ROT_WIN_BOUNDING:
        case ROT_WIN_BOUNDING_ORIGIN:
        case 5:
        case 6:
        case 7:
            if (!rotated_bounds(own, px, py, radians, &chosen)) return ERR_PARAM_OUT_OF_RANGE;
            if (out_window != nullptr) {
                narrow_extent(&chosen.x, &chosen.width, out_window->width);
                narrow_extent(&chosen.y, &chosen.height, out_window->height);
            }
            break;
        default:  // ROT_WIN_GIVEN
            chosen = to_rect(out_window != nullptr ? *out_window : own);
            break;
    }
    return check_output_window(chosen, out);
}

// True, with *code set, for a plan that rotates nothing: a whole number of
// turns (0) or a refusal (ERR_INVALID_PARAM).
bool settled_without_rotating(const rotation_plan& plan, int* code) {
    if (plan.method == rotation_method::unchanged) {
        *code = 0;
        return true;
    }
    if (plan.method == rotation_method::refused) {
        *code = ERR_INVALID_PARAM;
        return true;
    }
    return false;
}

// Rotates a usable matrix by a plan that moves values (a checked turn and
// pivot) or interpolates, onto a checked output window, and replaces the
// matrix with the result; on failure the matrix is as it was.
int carry_out(height_matrix* matrix, const window& out, const rotation_plan& plan) {
    const double px = plan.pivot_x, py = plan.pivot_y;
    const std::optional<exact_turn> turn = exact_turn_of(plan.turn);
    const bool moves = plan.method == rotation_method::move_values && turn.has_value();

    // A turn that carries the window onto itself needs no second array.
    if (moves && wn_compare(out, matrix->window) == WN_EQUAL && rotate_exact_in_place(matrix, px, py, *turn)) {
        return 0;
    }

    owned_height result;
    result.window = out;
    int error = matrix_alloc(&result);
    if (error != 0) return error;

    // The result starts as INVALID_HEIGHT everywhere. The interpolating
    // kernel writes every point itself; the exact one only where values
    // land, and only the rest is filled beforehand.
    if (moves) {
        fill_outside(result.matrix, out.width, out.width, out.height,
                     exact_landing_area(matrix->window, result.window, px, py, *turn));
        error = matrix_rotate_exact(matrix, &result, px, py, static_cast<int>(plan.turn));
    } else {
        error = matrix_resample_interp(matrix, &result, px, py, plan.turn);
    }
    if (error != 0) return error;
    result.move_to(matrix);
    return 0;
}

}  // namespace

void rotate_point(double* x, double* y, double cx, double cy, double radians) {
    const double s = rounded_sin(radians);
    const double c = rounded_cos(radians);
    const double dx = *x - cx;
    const double dy = *y - cy;
    *x = (c * dx - s * dy) + cx;
    *y = (s * dx + c * dy) + cy;
}

void wn_rotate(window* w, double px, double py, double radians) {
    rect bounds{};
    if (!rotated_bounds(*w, px, py, radians, &bounds) || !fits_window(bounds)) {
        *w = window{};
        return;
    }
    *w = to_window(bounds);
}

int matrix_rotate(height_matrix* matrix, const window* out_window, double* pivot_x, double* pivot_y, double angle,
                  int mode) {
    if (matrix == nullptr || !is_usable_matrix(*matrix)) return ERR_INVALID_PARAM;

    rotation_request request{angle, 0, 0, choice_of(mode), rotation_rule::library, false};
    const int pivot_error = settle_pivot(*matrix, pivot_x, pivot_y, mode, &request);
    const rotation_plan plan = plan_rotation(request);
    int error = 0;
    if (settled_without_rotating(plan, &error)) return error;
    if (pivot_error != 0) return pivot_error;

    window out{};
    error = settle_output_window(*matrix, out_window, mode & ROT_WIN_MASK, plan.turn, plan.pivot_x, plan.pivot_y,
                                 &out);
    if (error != 0) return error;
    error = carry_out(matrix, out, plan);
    if (error != 0) return error;
    if ((mode & ROT_WIN_MASK) == ROT_WIN_BOUNDING_ORIGIN) {
        matrix->window.x = 0;
        matrix->window.y = 0;
    }
    if (pivot_x != nullptr) *pivot_x = plan.pivot_x;
    if (pivot_y != nullptr) *pivot_y = plan.pivot_y;
    return 0;
}

bool rotates_within_its_array(const height_matrix& matrix, const window& out_window, const rotation_plan& plan) {
    const std::optional<exact_turn> turn = exact_turn_of(plan.turn);
    return plan.method == rotation_method::move_values && turn && on_half_pixels(plan.pivot_x) &&
           on_half_pixels(plan.pivot_y) && is_usable_matrix(matrix) && wn_compare(out_window, matrix.window) == WN_EQUAL &&
           turns_onto_itself(matrix.window, plan.pivot_x, plan.pivot_y, *turn);
}

int matrix_rotate_by_plan(height_matrix* matrix, const window& out_window, const rotation_plan& plan) {
    if (matrix == nullptr || !is_usable_matrix(*matrix)) return ERR_INVALID_PARAM;
    int error = 0;
    if (settled_without_rotating(plan, &error)) return error;
    if (plan.method == rotation_method::move_values &&
        (!exact_turn_of(plan.turn) || !on_half_pixels(plan.pivot_x) || !on_half_pixels(plan.pivot_y))) {
        return ERR_INVALID_PARAM;
    }
    window out{};
    error = check_output_window(to_rect(out_window), &out);
    if (error != 0) return error;
    return carry_out(matrix, out, plan);
}

}  // namespace spinmap
