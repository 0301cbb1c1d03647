// The row kernels of interpolating resampling and the choice between them.
// Each kernel has a source file of its own (interp_plain.cpp, interp_sse2.cpp,
// interp_avx2.cpp, interp_avx512.cpp); the vector ones share their lane
// arithmetic (plane_lanes.h), and interp.cpp holds the table that names them
// and says which this processor runs. Internal to transform/ (the tests and
// the benchmark force each variant).
#pragma once

#include <algorithm>
#include <cstdint>

#include <spinmap/matrix/matrix.h>

namespace spinmap {

// How many points one instruction evaluates: plain one at a time, then 2, 4
// and 8 double lanes. Every variant gives the same bits as the plain one.
enum class interp_lanes : int { plain, sse2, avx2, avx512 };

// True when this build compiles the variant and the processor can run it.
bool has_interp_lanes(interp_lanes lanes);

// The widest variant that has_interp_lanes allows: what matrix_resample_interp
// uses.
interp_lanes widest_interp_lanes();

// Short name of a variant, for reports: "plain", "SSE2", "AVX2", "AVX-512".
const char* interp_lanes_name(interp_lanes lanes);

// matrix_resample_interp through the given variant; ERR_INVALID_PARAM when
// has_interp_lanes refuses it.
int resample_interp_with(interp_lanes lanes, const height_matrix* source, height_matrix* result, double px,
                         double py, double angle);

// The sine and cosine matrix_resample_interp takes for a turn of angle
// degrees.
void resample_sin_cos(double angle, double* s, double* c);

// matrix_resample_interp after its checks, through the widest variant and
// row tables (source_rows address the source window's contiguous rows,
// result_rows the result window's), with the sine and cosine of
// resample_sin_cos.
void resample_widest(int32_t* const* source_rows, const window& source_window, int32_t* const* result_rows,
                     const window& result_window, double px, double py, double s, double c);

// ---- What the row kernels share ------------------------------------------------

// Rounds half away from zero; INVALID_HEIGHT when the rounded value is not a
// valid height (at or above INVALID_HEIGHT, or below the 32-bit range). The
// bounds are tested on the double, so the conversion is always in range.
inline int32_t round_height(double v) {
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

// The most points one row kernel call evaluates (a strip row): the kernels'
// arrays of one strip row live on the stack.
constexpr int STRIP = 64;

// The result is walked in bands of this many columns, each band row by row,
// a row's strips one after the other: the source lines a band row reads stay
// in the cache for the next rows, and fewer lines lie on the edge between two
// bands (and are read once for each) than between narrower strips. Measured
// at 4096 x 4096 on a processor with 1 MiB of second-level cache per core:
// 256 columns were faster than 64 and 128 at 5, 30, 80 and -135 degrees;
// 1024 were much slower at 80.
constexpr int BAND = 4 * STRIP;

// The source lines a strip row will need this many rows further down are
// asked for ahead of time: the walk crosses the source diagonally, which no
// hardware prefetcher follows. One point in PREFETCH_EVERY is enough, since
// neighbouring points share lines.
constexpr int PREFETCH_ROWS = 8;
constexpr int PREFETCH_EVERY = 8;

// What a strip row needs besides its column products: the row products
// s(Y - py) and c(Y - py), the pivot, the source origin, the source's last
// column and row, its width and the index of its last pair of elements
// (elements - 2; -1 for a source of one element); and about how many
// elements the positions move over PREFETCH_ROWS result rows, for
// prefetching only.
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
    int32_t last_pair;
    int32_t lead;
};

// Asks for the source line about PREFETCH_ROWS rows further down from the
// element at `offset`. Any address in the source will do; this one is
// clamped into it. Always inlined: GCC counts a prefetch as no side effect,
// so a call it leaves out of line is a call to a function without effects,
// and it drops the call (the wide kernels once prefetched nothing so).
__attribute__((always_inline)) inline void prefetch_ahead(const int32_t* source, int32_t offset, const row_terms& t) {
    __builtin_prefetch(source + std::clamp(offset + t.lead, 0, t.last_pair + 1));
}

// One strip row: the n points whose column products are c_x[k] and s_x[k]
// (k < n <= STRIP), written to out[0 .. n-1]; for a vector kernel n is a
// whole number of its lanes. The source rows are contiguous (source_rows[0]
// addresses the whole array) and its window has elements.
using row_kernel = void (*)(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                            const row_terms& t, int32_t* out);

void evaluate_row_plain(int32_t* const* source_rows, const double* c_x, const double* s_x, int n, const row_terms& t,
                        int32_t* out);
void evaluate_row_sse2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n, const row_terms& t,
                       int32_t* out);
void evaluate_row_avx2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n, const row_terms& t,
                       int32_t* out);
void evaluate_row_avx512(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                         const row_terms& t, int32_t* out);

}  // namespace spinmap
