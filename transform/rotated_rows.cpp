// The rows of a rotation's result made a band at a time, and the valid
// points' window of the result found before any of them is made.
#include <algorithm>
#include <optional>
#include <span>

#include <spinmap/platform/platform.h>
#include <spinmap/transform/interp_lanes.h>
#include <spinmap/transform/kernel_support.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// The turn of a plan that moves values with a checked turn and pivot.
std::optional<exact_turn> moved_turn(const rotation_plan& plan) {
    if (plan.method != rotation_method::move_values) return std::nullopt;
    if (!on_half_pixels(plan.pivot_x) || !on_half_pixels(plan.pivot_y)) return std::nullopt;
    return exact_turn_of(plan.turn);
}

// A table of the source window's rows; null when it cannot be had.
hook_buffer<int32_t*> source_row_table(const height_matrix& source) {
    hook_buffer<int32_t*> rows = hook_allocate<int32_t*>(std::max<std::size_t>(source.window.height, 1));
    if (rows != nullptr) matrix_rows(&source, nullptr, rows.get());
    return rows;
}

// The search for the valid points of a resampled frame: points are
// evaluated a strip of a row at a time, only where the search looks.
class valid_point_search {
public:
    valid_point_search(const height_matrix& source, int32_t* const* source_rows, const window& area, double px,
                       double py, double s, double c)
        : source_(source), source_rows_(source_rows), area_(area), px_(px), py_(py), s_(s), c_(c) {}

    // Index within the area of the first valid point of row i among columns
    // from .. to-1, or `to`.
    int first_valid(int i, int from, int to) const {
        int32_t values[STRIP];
        for (int j = from; j < to; j += STRIP) {
            const int n = std::min(STRIP, to - j);
            evaluate(i, j, n, values);
            for (int k = 0; k < n; ++k)
                if (is_valid_height(values[k])) return j + k;
        }
        return to;
    }

    // Index of the last valid point of row i among columns from .. to-1,
    // searched from the right end, or from - 1.
    int last_valid(int i, int from, int to) const {
        int32_t values[STRIP];
        for (int j = to; j > from;) {
            const int n = std::min(STRIP, j - from);
            j -= n;
            evaluate(i, j, n, values);
            for (int k = n - 1; k >= 0; --k)
                if (is_valid_height(values[k])) return j + k;
        }
        return from - 1;
    }

    // The bounds of the valid points of rows lo .. hi-1 as matrix/'s
    // valid window scan finds them in a frame: the top and bottom rows from
    // either end, then each row between searched only left of the leftmost
    // valid column so far and right of the rightmost. The search starts from
    // the columns seed_left and seed_right of a valid point or two of
    // another row (width and -1 without one), and the band's bounds then
    // take them in.
    bool find_bounds(int lo, int hi, int seed_left, int seed_right, int* top, int* bottom, int* left,
                     int* right) const {
        const int width = area_.width;
        int i = lo;
        while (i < hi && first_valid(i, 0, width) == width) ++i;
        if (i == hi) return false;
        *top = i;
        i = hi - 1;
        while (i > *top && first_valid(i, 0, width) == width) --i;
        *bottom = i;
        int l = first_valid(*top, 0, seed_left);
        int r = last_valid(*top, seed_right + 1, width);
        for (i = *top + 1; i <= *bottom; ++i) {
            l = first_valid(i, 0, l);
            r = last_valid(i, r + 1, width);
        }
        *left = l;
        *right = r;
        return true;
    }

private:
    // Columns j .. j+n-1 of row i, each point as the whole frame's
    // resampling gives it (every point is evaluated on its own).
    void evaluate(int i, int j, int n, int32_t* values) const {
        const window strip{static_cast<int16_t>(area_.x + j), static_cast<int16_t>(area_.y + i),
                           static_cast<int16_t>(n), 1};
        int32_t* const rows[1] = {values};
        resample_widest(source_rows_, source_.window, rows, strip, px_, py_, s_, c_);
    }

    const height_matrix& source_;
    int32_t* const* source_rows_;
    window area_;
    double px_, py_, s_, c_;
};

// The part of the frame where a valid point of the resampled frame can lie:
// the turned window of the source's valid points, two pixels wider on every
// side for the rounding of its corners and of the positions; the whole frame
// when the turned window cannot be had.
bool search_area(const window& valid, const window& frame, const rotation_plan& plan, window* area) {
    window turned = valid;
    wn_rotate(&turned, plan.pivot_x, plan.pivot_y, plan.turn / DEGREES_PER_RADIAN);
    if (turned.width == 0) {
        *area = frame;
        return true;
    }
    constexpr int MARGIN = 2;
    const int32_t x = std::max<int32_t>(int32_t{turned.x} - MARGIN, frame.x);
    const int32_t y = std::max<int32_t>(int32_t{turned.y} - MARGIN, frame.y);
    const int32_t right = std::min<int32_t>(wn_right(turned) + MARGIN, wn_right(frame));
    const int32_t bottom = std::min<int32_t>(wn_bottom(turned) + MARGIN, wn_bottom(frame));
    if (right < x || bottom < y) return false;
    *area = {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(right - x + 1),
             static_cast<int16_t>(bottom - y + 1)};
    return true;
}

// The valid points' bounds of one band of rows, as indices within the area.
struct band_bounds {
    bool any = false;
    int top = 0, bottom = 0, left = 0, right = 0;
};

}  // namespace

bool moved_part_window(const height_matrix& source, const window& part, const window& frame,
                       const rotation_plan& plan, window* out) {
    const std::optional<exact_turn> turn = moved_turn(plan);
    if (!turn || !is_usable_matrix(source)) return false;
    landing_area area{};
    if (!exact_part_landing(source.window, part, frame, plan.pivot_x, plan.pivot_y, *turn, &area)) return false;
    *out = {static_cast<int16_t>(frame.x + area.col_lo), static_cast<int16_t>(frame.y + area.row_lo),
            static_cast<int16_t>(area.col_hi - area.col_lo), static_cast<int16_t>(area.row_hi - area.row_lo)};
    return true;
}

int resampled_valid_window(const height_matrix& source, const window& valid, const window& frame,
                           const rotation_plan& plan, window* out) {
    if (plan.method != rotation_method::interpolate || !is_usable_matrix(source)) return ERR_INVALID_PARAM;
    if (!wn_is_proper(frame) || !is_walkable_window(frame)) return ERR_IMPROPER_WINDOW;
    window area{};
    if (frame.width == 0 || frame.height == 0 || !search_area(valid, frame, plan, &area)) return ERR_ALL_BAD_DATA;
    const hook_buffer<int32_t*> source_rows = source_row_table(source);
    if (source_rows == nullptr) return ERR_NO_MEM;
    double s = 0, c = 0;
    resample_sin_cos(plan.turn, &s, &c);
    const valid_point_search search(source, source_rows.get(), area, plan.pivot_x, plan.pivot_y, s, c);

    // The middle row's outermost valid points seed every band's search: a
    // band would otherwise search each of its rows from either end as far
    // as its own first row's points, which in the half of a round shape
    // that narrows downwards is most of the band.
    const int middle = area.height / 2;
    const int seed_left = search.first_valid(middle, 0, area.width);
    const int seed_right = seed_left < area.width ? search.last_valid(middle, seed_left, area.width) : -1;

    // Bands of rows on several threads; each band's bounds are exact, and
    // their least and greatest are the whole area's.
    band_bounds bands[MOST_THREADS];
    const int band_count = std::min<int>(area.height, MOST_THREADS);
    run_in_bands(band_count, int64_t{area.width} * area.height / band_count, [&](int lo, int hi) {
        for (int b = lo; b < hi; ++b) {
            band_bounds& found = bands[b];
            found.any = search.find_bounds(area.height * b / band_count, area.height * (b + 1) / band_count,
                                           seed_left, seed_right, &found.top, &found.bottom, &found.left,
                                           &found.right);
        }
    });
    bool any = false;
    int top = 0, bottom = 0, left = 0, right = 0;
    for (const band_bounds& found : std::span(bands, band_count)) {
        if (!found.any) continue;
        top = any ? top : found.top;
        left = any ? std::min(left, found.left) : found.left;
        right = any ? std::max(right, found.right) : found.right;
        bottom = found.bottom;
        any = true;
    }
    if (!any) return ERR_ALL_BAD_DATA;
    *out = {static_cast<int16_t>(area.x + left), static_cast<int16_t>(area.y + top),
            static_cast<int16_t>(right - left + 1), static_cast<int16_t>(bottom - top + 1)};
    return 0;
}

int made_rows_window(const height_matrix& source, const window& valid, const window& frame,
                     const rotation_plan& plan, bool counting, window* out, bool* made) {
    *made = false;
    if (plan.method == rotation_method::move_values) {
        *made = !rotates_within_its_array(source, frame, plan) && moved_part_window(source, valid, frame, plan, out);
        return 0;
    }
    if (plan.method != rotation_method::interpolate || counting) return 0;
    const int code = resampled_valid_window(source, valid, frame, plan, out);
    *made = code == 0;
    return code;
}

int rotated_rows::prepare(const height_matrix& source, const rotation_plan& plan, const window& out) {
    source_ = nullptr;
    if (!is_usable_matrix(source)) return ERR_INVALID_PARAM;
    if (plan.method != rotation_method::interpolate && !moved_turn(plan)) return ERR_INVALID_PARAM;
    if (out.width <= 0 || out.height <= 0) return ERR_PARAM_OUT_OF_RANGE;
    if (!wn_is_proper(out) || !is_walkable_window(out)) return ERR_IMPROPER_WINDOW;
    source_rows_ = source_row_table(source);
    if (source_rows_ == nullptr) return ERR_NO_MEM;
    result_rows_ = hook_allocate<int32_t*>(static_cast<std::size_t>(out.height));
    if (result_rows_ == nullptr) return ERR_NO_MEM;
    resample_sin_cos(plan.turn, &s_, &c_);
    source_ = &source;
    plan_ = plan;
    out_ = out;
    return 0;
}

int rotated_rows::make(int first, int count, int32_t* rows, std::ptrdiff_t pitch) {
    if (source_ == nullptr || rows == nullptr || first < 0 || count <= 0 || count > out_.height - first ||
        pitch < out_.width) {
        return ERR_INVALID_PARAM;
    }
    const window band{out_.x, static_cast<int16_t>(out_.y + first), out_.width, static_cast<int16_t>(count)};
    for (int k = 0; k < count; ++k) result_rows_[k] = rows + k * pitch;
    const double px = plan_.pivot_x, py = plan_.pivot_y;
    const std::optional<exact_turn> turn = moved_turn(plan_);
    if (turn) {
        fill_outside(rows, pitch, band.width, count, exact_landing_area(source_->window, band, px, py, *turn));
        move_exact(source_rows_.get(), source_->window, result_rows_.get(), band, px, py, *turn);
    } else {
        resample_widest(source_rows_.get(), source_->window, result_rows_.get(), band, px, py, s_, c_);
    }
    return 0;
}

}  // namespace spinmap
