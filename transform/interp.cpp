// Interpolating resampling: every result point takes the value of the
// least-squares plane through the four source points around its
// inverse-rotated position.
#include <algorithm>
#include <cmath>

#include "matrix/vector_paths.h"

#if defined(SPINMAP_SSE2)
#include <emmintrin.h>
#endif

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

// What a strip row needs besides its column products: the row products
// s(Y - py) and c(Y - py), the pivot, the source origin, the source's last
// column and row, and its width; and how far the positions move over
// PREFETCH_ROWS result rows (-s and c times that), for prefetching only.
struct row_terms {
    double s_y;
    double c_y;
    double px;
    double py;
    double sx;
    double sy;
    double last_column;
    double last_row;
    int32_t width;
    double lead_a;
    double lead_b;
};

// The source lines a strip row will need this many rows further down are
// asked for ahead of time: the walk crosses the source diagonally, which no
// hardware prefetcher follows. One point in PREFETCH_EVERY is enough, since
// neighbouring points share lines.
constexpr int PREFETCH_ROWS = 8;
constexpr int PREFETCH_EVERY = 8;

// The n points of one strip row, one at a time: positions, then values.
void evaluate_row_scalar(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                         const row_terms& t, int32_t* out) {
    double a[STRIP], b[STRIP];
    for (int k = 0; k < n; ++k) {
        a[k] = c_x[k] - t.s_y + t.px - t.sx;
        b[k] = s_x[k] + t.c_y + t.py - t.sy;
    }
    for (int k = 0; k < n; ++k) out[k] = plane_value(source_rows, a[k], b[k], t.last_column, t.last_row);
}

#if defined(SPINMAP_SSE2)
// The two 64-bit lane masks of a comparison as the two low 32-bit lanes.
inline __m128i low_lanes(__m128d mask) { return _mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(2, 0, 2, 0)); }

// The same points two at a time in SSE2 lanes. Each lane does the operations
// of the scalar path in the same order and in double precision, so every bit
// agrees. Two passes over the row keep the arithmetic apart from the source
// reads:
//   1. positions, the inside test, the element offsets of the upper-left and
//      lower-left neighbours and the offsets a - x0 - 0.5 and b - y0 - 0.5;
//   2. the four neighbours of both points (each row's pair read at once),
//      their validity, the plane value, its rounding, range check and
//      conversion.
// The neighbour sums are formed in doubles: the four heights are whole
// numbers below 2^31 in magnitude, so every partial sum is exact and equals
// the 64-bit integer sum of the scalar path whatever the grouping. A pair
// with both points outside is invalid at once; a pair with a point on a
// whole column (a == x0, where the right neighbour is the left one and may
// not exist) is left to the scalar path, as is an odd last point. A point
// outside the source reads at offset 0, which holds two elements whenever a
// pair is read at all (a one-column source has every inside point on a
// whole column).
void evaluate_row_sse2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                       const row_terms& t, int32_t* out) {
    alignas(16) double wx[STRIP], wy[STRIP];
    alignas(16) int32_t upper[STRIP], lower[STRIP], usable[STRIP];
    int pair_kind[STRIP / 2];  // -1 both outside, 0 vector path, else scalar path
    const int pairs = n & ~1;
    const int32_t* const source = source_rows[0];

    const __m128d zero = _mm_setzero_pd(), half = _mm_set1_pd(0.5);
    const __m128d last_column = _mm_set1_pd(t.last_column), last_row = _mm_set1_pd(t.last_row);
    const __m128d width = _mm_set1_pd(t.width);
    const __m128i width_i = _mm_set1_epi32(t.width);
    const __m128d s_y = _mm_set1_pd(t.s_y), c_y = _mm_set1_pd(t.c_y);
    const __m128d px = _mm_set1_pd(t.px), py = _mm_set1_pd(t.py), sx = _mm_set1_pd(t.sx), sy = _mm_set1_pd(t.sy);
    const __m128d lead_a = _mm_set1_pd(t.lead_a), lead_b = _mm_set1_pd(t.lead_b);
    for (int k = 0; k < pairs; k += 2) {
        __m128d a = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(_mm_loadu_pd(c_x + k), s_y), px), sx);
        __m128d b = _mm_sub_pd(_mm_add_pd(_mm_add_pd(_mm_loadu_pd(s_x + k), c_y), py), sy);
        // Ordered comparisons: a NaN lane is outside.
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(a, zero), _mm_cmple_pd(a, last_column)),
                                          _mm_and_pd(_mm_cmpge_pd(b, zero), _mm_cmple_pd(b, last_row)));
        a = _mm_and_pd(a, inside);
        b = _mm_and_pd(b, inside);
        const __m128d x0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(a)), y0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(b));
        // y0 * width + x0 is below 2^30: exact as a double and as an int.
        const __m128i offset = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(y0, width), x0));
        const __m128i down = _mm_and_si128(low_lanes(_mm_cmpgt_pd(b, y0)), width_i);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(upper + k), offset);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lower + k), _mm_add_epi32(offset, down));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(usable + k), low_lanes(inside));
        const int on_whole_column = _mm_movemask_pd(_mm_andnot_pd(_mm_cmpgt_pd(a, x0), inside));
        pair_kind[k / 2] = _mm_movemask_pd(inside) == 0 ? -1 : on_whole_column;
        if (k % PREFETCH_EVERY == 0) {
            // Any address in the source will do; this one is clamped into it.
            const __m128d a_ahead = _mm_min_pd(_mm_max_pd(_mm_add_pd(a, lead_a), zero), last_column);
            const __m128d b_ahead = _mm_min_pd(_mm_max_pd(_mm_add_pd(b, lead_b), zero), last_row);
            const __m128d row_ahead = _mm_cvtepi32_pd(_mm_cvttpd_epi32(b_ahead));
            const int32_t ahead = _mm_cvtsi128_si32(_mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(row_ahead, width), a_ahead)));
            _mm_prefetch(reinterpret_cast<const char*>(source + ahead), _MM_HINT_T0);
        }
        _mm_store_pd(wx + k, _mm_sub_pd(_mm_sub_pd(a, x0), half));
        _mm_store_pd(wy + k, _mm_sub_pd(_mm_sub_pd(b, y0), half));
    }

    const __m128d divisor = _mm_set1_pd(4);
    const __m128d upper_bound = _mm_set1_pd(2147483640.0), lower_bound = _mm_set1_pd(-2147483649.0);
    const __m128i invalid = _mm_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < pairs; k += 2) {
        if (pair_kind[k / 2] < 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), invalid);
            continue;
        }
        if (pair_kind[k / 2] > 0) {
            evaluate_row_scalar(source_rows, c_x + k, s_x + k, 2, t, out + k);
            continue;
        }
        const auto pair_at = [source](int32_t offset) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + offset));
        };
        const __m128i p = _mm_unpacklo_epi64(pair_at(upper[k]), pair_at(lower[k]));          // f00 f01 f10 f11
        const __m128i q = _mm_unpacklo_epi64(pair_at(upper[k + 1]), pair_at(lower[k + 1]));  // of the second
        const __m128i top = _mm_unpacklo_epi32(p, q);     // f00 of both, f01 of both
        const __m128i bottom = _mm_unpackhi_epi32(p, q);  // f10 of both, f11 of both
        __m128i valid = _mm_and_si128(_mm_cmplt_epi32(top, invalid), _mm_cmplt_epi32(bottom, invalid));
        valid = _mm_and_si128(valid, _mm_shuffle_epi32(valid, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d f00 = _mm_cvtepi32_pd(top);
        const __m128d f01 = _mm_cvtepi32_pd(_mm_shuffle_epi32(top, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d f10 = _mm_cvtepi32_pd(bottom);
        const __m128d f11 = _mm_cvtepi32_pd(_mm_shuffle_epi32(bottom, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d upper_pair = _mm_add_pd(f00, f01), lower_pair = _mm_add_pd(f10, f11);
        const __m128d sum = _mm_add_pd(upper_pair, lower_pair);
        const __m128d gx = _mm_sub_pd(_mm_add_pd(f01, f11), _mm_add_pd(f00, f10));
        const __m128d gy = _mm_sub_pd(lower_pair, upper_pair);
        const __m128d slope = _mm_add_pd(_mm_mul_pd(gy, _mm_load_pd(wy + k)), _mm_mul_pd(gx, _mm_load_pd(wx + k)));
        const __m128d v = _mm_add_pd(_mm_mul_pd(half, slope), _mm_div_pd(sum, divisor));
        const __m128d up = _mm_cmpge_pd(v, zero);
        const __m128d r = _mm_or_pd(_mm_and_pd(up, _mm_add_pd(v, half)), _mm_andnot_pd(up, _mm_sub_pd(v, half)));
        const __m128d in_range = _mm_and_pd(_mm_cmplt_pd(r, upper_bound), _mm_cmpgt_pd(r, lower_bound));
        const __m128i keep = _mm_and_si128(_mm_and_si128(low_lanes(in_range), valid),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(usable + k)));
        const __m128i value = _mm_cvttpd_epi32(r);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                         _mm_or_si128(_mm_and_si128(keep, value), _mm_andnot_si128(keep, invalid)));
    }

    if (pairs < n) evaluate_row_scalar(source_rows, c_x + pairs, s_x + pairs, n - pairs, t, out + pairs);
}
#endif

// One strip row by the fastest path the target has.
void evaluate_row(int32_t* const* source_rows, const double* c_x, const double* s_x, int n, const row_terms& t,
                  int32_t* out) {
#if defined(SPINMAP_SSE2)
    evaluate_row_sse2(source_rows, c_x, s_x, n, t, out);
#else
    evaluate_row_scalar(source_rows, c_x, s_x, n, t, out);
#endif
}

// Maps every result point (X, Y) back into the source and evaluates it there:
//   a = c(X - px) - s(Y - py) + px - source x
//   b = s(X - px) + c(Y - py) + py - source y
// Each point is independent of the others, so the walk order (strip by
// strip, each strip row by row, each row left to right) does not change a
// bit. The products c(X - px) and s(X - px) depend on the column alone and
// s(Y - py) and c(Y - py) on the row alone: each is computed once and gives
// the same double as in the expression above. A source without elements
// has no position inside it: every point is invalid.
void resample_rows(int32_t* const* source_rows, const window& source_window, int32_t* const* result_rows,
                   const window& result_window, double px, double py, double s, double c) {
    if (source_window.width == 0 || source_window.height == 0) {
        for (int row = 0; row < result_window.height; ++row) {
            std::fill(result_rows[row], result_rows[row] + result_window.width, INVALID_HEIGHT);
        }
        return;
    }
    row_terms t{0, 0, px, py, static_cast<double>(source_window.x), static_cast<double>(source_window.y),
                source_window.width - 1.0, source_window.height - 1.0, source_window.width,
                -s * PREFETCH_ROWS, c * PREFETCH_ROWS};
    alignas(16) double c_x[STRIP], s_x[STRIP];
    for (int column0 = 0; column0 < result_window.width; column0 += STRIP) {
        const int n = std::min(STRIP, result_window.width - column0);
        for (int k = 0; k < n; ++k) {
            const double x_offset = (result_window.x + column0 + k) - px;
            c_x[k] = c * x_offset;
            s_x[k] = s * x_offset;
        }
        for (int row = 0; row < result_window.height; ++row) {
            const double y_offset = (result_window.y + row) - py;
            t.s_y = s * y_offset;
            t.c_y = c * y_offset;
            evaluate_row(source_rows, c_x, s_x, n, t, result_rows[row] + column0);
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
