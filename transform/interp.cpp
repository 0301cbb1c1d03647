// Interpolating resampling: every result point takes the value of the
// least-squares plane through the four source points around its
// inverse-rotated position.
#include <algorithm>
#include <cmath>

#include "transform/kernel_support.h"
#include "transform/transform.h"

namespace spinmap {

namespace {

// Rounds half away from zero; INVALID_HEIGHT when the rounded value is not a
// valid height (at or above INVALID_HEIGHT, or below the 32-bit range). The
// bounds are tested on the double, so the conversion is always in range.
int32_t round_height(double v) {
    v = v >= 0 ? v + 0.5 : v - 0.5;
    if (!(v < 2147483640.0 && v > -2147483649.0)) return INVALID_HEIGHT;
    return static_cast<int32_t>(v);
}

// The value at source position (a, b), relative to the source window, with
// last_column = width - 1 and last_row = height - 1.
//
// For a >= 0, ceil(a) < width is the same test as a <= width - 1, and ceil(a)
// is the truncation plus one when a has a fraction; so no ceil call is needed
// and the bounds are tested on the doubles before any conversion (a NaN fails
// every comparison).
inline int32_t plane_value(int32_t* const* rows, double a, double b, double last_column, double last_row) {
    if (!(a >= 0 && a <= last_column && b >= 0 && b <= last_row)) return INVALID_HEIGHT;
    const int x0 = static_cast<int>(a);
    const int x1 = x0 + (a > x0 ? 1 : 0);
    const int y0 = static_cast<int>(b);
    const int y1 = y0 + (b > y0 ? 1 : 0);

    const int64_t f00 = rows[y0][x0];
    const int64_t f01 = rows[y0][x1];
    const int64_t f10 = rows[y1][x0];
    const int64_t f11 = rows[y1][x1];
    if (f00 >= INVALID_HEIGHT || f01 >= INVALID_HEIGHT || f10 >= INVALID_HEIGHT || f11 >= INVALID_HEIGHT) {
        return INVALID_HEIGHT;
    }

    // Sums of four heights need more than 32 bits; every sum is exact in a
    // double.
    const int64_t sum = f00 + f01 + f10 + f11;
    const int64_t gx = (f01 + f11) - (f00 + f10);  // right pair less left pair
    const int64_t gy = (f10 + f11) - (f00 + f01);  // lower pair less upper pair
    const double v = 0.5 * (static_cast<double>(gy) * (b - y0 - 0.5) + static_cast<double>(gx) * (a - x0 - 0.5)) +
                     static_cast<double>(sum) / 4;
    return round_height(v);
}

// Width of the strips the result is walked in: the column products of one
// strip live in small arrays on the stack, and the inverse-rotated positions
// of a strip's consecutive rows stay within a small patch of the source,
// whatever the angle.
constexpr int STRIP = 64;

// Maps every result point (X, Y) back into the source and evaluates it there:
//   a = c(X - px) - s(Y - py) + px - source x
//   b = s(X - px) + c(Y - py) + py - source y
// Each point is independent of the others, so the walk order (strip by
// strip, each strip row by row, each row left to right) does not change a
// bit. The products c(X - px) and s(X - px) depend on the column alone and
// s(Y - py) and c(Y - py) on the row alone: each is computed once and gives
// the same double as in the expression above. The positions of a strip row
// are formed before its values, which keeps the arithmetic apart from the
// source reads.
void resample_rows(int32_t* const* source_rows, const window& source_window, int32_t* const* result_rows,
                   const window& result_window, double px, double py, double s, double c) {
    const double last_column = source_window.width - 1;
    const double last_row = source_window.height - 1;
    const double sx = source_window.x;
    const double sy = source_window.y;
    double c_x[STRIP], s_x[STRIP], a[STRIP], b[STRIP];
    for (int column0 = 0; column0 < result_window.width; column0 += STRIP) {
        const int n = std::min(STRIP, result_window.width - column0);
        for (int k = 0; k < n; ++k) {
            const double x_offset = (result_window.x + column0 + k) - px;
            c_x[k] = c * x_offset;
            s_x[k] = s * x_offset;
        }
        for (int row = 0; row < result_window.height; ++row) {
            const double y_offset = (result_window.y + row) - py;
            const double s_y = s * y_offset;
            const double c_y = c * y_offset;
            for (int k = 0; k < n; ++k) {
                a[k] = c_x[k] - s_y + px - sx;
                b[k] = s_x[k] + c_y + py - sy;
            }
            int32_t* out = result_rows[row] + column0;
            for (int k = 0; k < n; ++k) out[k] = plane_value(source_rows, a[k], b[k], last_column, last_row);
        }
    }
}

}  // namespace

void matrix_interp_point(int32_t* const* rows, double a, double b, const window& source_window, int32_t* value) {
    *value = plane_value(rows, a, b, source_window.width - 1.0, source_window.height - 1.0);
}

int matrix_resample_interp(const height_matrix* source, height_matrix* result, double px, double py, double angle) {
    const int error = check_kernel_matrices(source, result);
    if (error != 0) return error;

    row_tables tables;
    const int table_error = tables.build(source, result);
    if (table_error != 0) return table_error;

    const double theta = std::fmod(angle, 360) / DEGREES_PER_RADIAN;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    resample_rows(tables.source(), source->window, tables.result(), result->window, px, py, s, c);
    return 0;
}

}  // namespace spinmap
