// Interpolating resampling: every result point takes the value of the
// least-squares plane through the four source points around its
// inverse-rotated position.
#include <algorithm>
#include <cmath>
#include <iterator>

#include <spinmap/matrix/vector_paths.h>
#include <spinmap/platform/platform.h>
#include <spinmap/transform/interp_lanes.h>
#include <spinmap/transform/kernel_support.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// About how many elements of a source of this width the positions move
// over PREFETCH_ROWS result rows: c and -s times that, in whole rows and
// columns. 0 for a NaN angle, whose points are all outside anyway.
int32_t prefetch_lead(double s, double c, int32_t width) {
    const double across = -s * PREFETCH_ROWS, down = c * PREFETCH_ROWS;
    if (!(std::fabs(across) <= PREFETCH_ROWS && std::fabs(down) <= PREFETCH_ROWS)) return 0;
    return static_cast<int32_t>(down) * width + static_cast<int32_t>(across);
}

bool runs_everywhere() { return true; }

#if defined(SPINMAP_WIDE_LANES)
// The checks include the system's support for the wider registers.
bool runs_avx2() { return __builtin_cpu_supports("avx2"); }
bool runs_avx512() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2"); }
#endif

// The row kernels, by interp_lanes, narrowest first: the name, the kernel
// (null where the build leaves it out), the points it evaluates at once and
// whether this processor runs it.
struct interp_variant {
    const char* name;
    row_kernel kernel;
    int lanes;
    bool (*runs_here)();
};

constexpr interp_variant VARIANTS[] = {
    {"plain", evaluate_row_plain, 1, runs_everywhere},
#if defined(SPINMAP_SSE2)
    {"SSE2", evaluate_row_sse2, 2, runs_everywhere},
#else
    {"SSE2", nullptr, 2, nullptr},
#endif
#if defined(SPINMAP_WIDE_LANES)
    {"AVX2", evaluate_row_avx2, 4, runs_avx2},
    {"AVX-512", evaluate_row_avx512, 8, runs_avx512},
#else
    {"AVX2", nullptr, 4, nullptr},
    {"AVX-512", nullptr, 8, nullptr},
#endif
};
constexpr int VARIANT_COUNT = static_cast<int>(std::size(VARIANTS));
static_assert(VARIANT_COUNT == static_cast<int>(interp_lanes::avx512) + 1);

const interp_variant* variant_of(interp_lanes lanes) {
    const int index = static_cast<int>(lanes);
    return index >= 0 && index < VARIANT_COUNT ? &VARIANTS[index] : nullptr;
}

// Maps every result point (X, Y) back into the source and evaluates it there:
//   a = c(X - px) - s(Y - py) + px - source x
//   b = s(X - px) + c(Y - py) + py - source y
// Each point is independent of the others, so the walk order (bands of
// result rows on their threads, each column band row by row, each row
// strip by strip from the left) does not change a bit. The products
// c(X - px) and s(X - px) depend on the column alone and s(Y - py) and
// c(Y - py) on the row alone: each is computed once and gives the same
// double as in the expression above. The variant's kernel takes the whole
// groups of its lanes of each strip row, the plain kernel the points left
// over. This walks result rows first .. last-1.
void resample_band(const interp_variant& variant, int32_t* const* source_rows, const row_terms& terms,
                   int32_t* const* result_rows, const window& result_window, double px, double py, double s, double c,
                   int first, int last) {
    row_terms t = terms;
    alignas(64) double c_x[BAND], s_x[BAND];
    for (int column0 = 0; column0 < result_window.width; column0 += BAND) {
        const int band_width = std::min(BAND, result_window.width - column0);
        for (int k = 0; k < band_width; ++k) {
            const double x_offset = (result_window.x + column0 + k) - px;
            c_x[k] = c * x_offset;
            s_x[k] = s * x_offset;
        }
        for (int row = first; row < last; ++row) {
            const double y_offset = (result_window.y + row) - py;
            t.s_y = s * y_offset;
            t.c_y = c * y_offset;
            for (int k = 0; k < band_width; k += STRIP) {
                const int points = std::min(STRIP, band_width - k), whole = points / variant.lanes * variant.lanes;
                int32_t* const out = result_rows[row] + column0 + k;
                if (whole > 0) variant.kernel(source_rows, c_x + k, s_x + k, whole, t, out);
                if (whole < points) {
                    evaluate_row_plain(source_rows, c_x + k + whole, s_x + k + whole, points - whole, t, out + whole);
                }
            }
        }
    }
}

// The whole result, in bands of rows. A source without elements has no
// position inside it: every point is invalid.
void resample_rows(const interp_variant& variant, int32_t* const* source_rows, const window& source_window,
                   int32_t* const* result_rows, const window& result_window, double px, double py, double s,
                   double c) {
    if (source_window.width == 0 || source_window.height == 0) {
        for (int row = 0; row < result_window.height; ++row) {
            std::fill(result_rows[row], result_rows[row] + result_window.width, INVALID_HEIGHT);
        }
        return;
    }
    const row_terms t{0, 0, px, py, static_cast<double>(source_window.x), static_cast<double>(source_window.y),
                      source_window.width - 1.0, source_window.height - 1.0, source_window.width,
                      int32_t{source_window.width} * source_window.height - 2,
                      prefetch_lead(s, c, source_window.width)};
    run_in_bands(result_window.height, result_window.width, [&](int first, int last) {
        resample_band(variant, source_rows, t, result_rows, result_window, px, py, s, c, first, last);
    });
}

}  // namespace

bool has_interp_lanes(interp_lanes lanes) {
    const interp_variant* variant = variant_of(lanes);
    return variant != nullptr && variant->kernel != nullptr && variant->runs_here();
}

interp_lanes widest_interp_lanes() {
    for (int index = VARIANT_COUNT - 1; index > 0; --index) {
        if (has_interp_lanes(static_cast<interp_lanes>(index))) return static_cast<interp_lanes>(index);
    }
    return interp_lanes::plain;
}

const char* interp_lanes_name(interp_lanes lanes) {
    const interp_variant* variant = variant_of(lanes);
    return variant != nullptr ? variant->name : "plain";
}

void matrix_interp_point(int32_t* const* rows, double a, double b, const window& source_window, int32_t* value) {
    *value = plane_value(rows, a, b, source_window.width - 1.0, source_window.height - 1.0);
}

int resample_interp_with(interp_lanes lanes, const height_matrix* source, height_matrix* result, double px,
                         double py, double angle) {
    if (!has_interp_lanes(lanes)) return ERR_INVALID_PARAM;
    const int error = check_kernel_matrices(source, result);
    if (error != 0) return error;

    row_tables tables;
    const int table_error = tables.build(source, result);
    if (table_error != 0) return table_error;

    double s = 0, c = 0;
    resample_sin_cos(angle, &s, &c);
    resample_rows(*variant_of(lanes), tables.source(), source->window, tables.result(), result->window, px, py, s, c);
    return 0;
}

void resample_sin_cos(double angle, double* s, double* c) {
    const double theta = std::fmod(angle, 360) / DEGREES_PER_RADIAN;
    *s = rounded_sin(theta);
    *c = rounded_cos(theta);
}

void resample_widest(int32_t* const* source_rows, const window& source_window, int32_t* const* result_rows,
                     const window& result_window, double px, double py, double s, double c) {
    resample_rows(*variant_of(widest_interp_lanes()), source_rows, source_window, result_rows, result_window, px, py,
                  s, c);
}

int matrix_resample_interp(const height_matrix* source, height_matrix* result, double px, double py, double angle) {
    return resample_interp_with(widest_interp_lanes(), source, result, px, py, angle);
}

}  // namespace spinmap
