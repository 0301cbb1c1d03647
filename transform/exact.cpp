// Exact rotation: quarter and half turns about a pivot on whole or half
// pixels, done by moving every source element unchanged to its new place.
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

// Source indices lo .. hi-1 of one axis.
struct index_range {
    int lo;
    int hi;
};

// Drops the fraction of a start value (toward zero). False when the value is
// not a number or lies beyond the 32-bit range: every place is then so far
// away that no element lands in the result.
bool start_place(double value, int64_t* place) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *place = static_cast<int64_t>(value);
    return true;
}

// The indices k in [0, count) whose place start + step*k (step +1 or -1)
// lies in [0, extent). Bounding the loops by these ranges gives exactly the
// elements a per-element inside test would keep.
index_range landing_range(int64_t start, int step, int64_t extent, int count) {
    int64_t lo = step > 0 ? -start : start - extent + 1;
    int64_t hi = step > 0 ? extent - start : start + 1;
    lo = std::max<int64_t>(lo, 0);
    hi = std::min<int64_t>(hi, count);
    if (hi < lo) hi = lo;
    return {static_cast<int>(lo), static_cast<int>(hi)};
}

// Source tiles of TILE x TILE elements: the column walk of a quarter turn
// then stays within a few cache lines of the source and of the result (128
// measured fastest on 4096 x 4096 frames).
constexpr int TILE = 128;

// Quarter turn: source element (i, j) goes to result column c0 + DI*i and
// row r0 + DJ*j. The ranges keep every place inside the result window.
template <int DI, int DJ>
void move_quarter_tiles(int32_t* const* source_rows, int32_t* const* result_rows, index_range rows,
                        index_range columns, int64_t c0, int64_t r0) {
    for (int i0 = rows.lo; i0 < rows.hi; i0 += TILE) {
        const int i1 = std::min(i0 + TILE, rows.hi);
        for (int j0 = columns.lo; j0 < columns.hi; j0 += TILE) {
            const int j1 = std::min(j0 + TILE, columns.hi);
            for (int j = j0; j < j1; ++j) {
                int32_t* out = result_rows[r0 + DJ * j] + (c0 + DI * i0);
                for (int i = i0; i < i1; ++i) out[DI * (i - i0)] = source_rows[i][j];
            }
        }
    }
}

#if defined(SPINMAP_SSE2)
// The same move for ranges of whole 4 x 4 blocks: each block is loaded as
// four source rows, transposed in registers and stored as four result rows
// (reversed within each row when the result columns run backwards).
template <int DI, int DJ>
void move_quarter_blocks(int32_t* const* source_rows, int32_t* const* result_rows, index_range rows,
                         index_range columns, int64_t c0, int64_t r0) {
    for (int i0 = rows.lo; i0 < rows.hi; i0 += TILE) {
        const int i1 = std::min(i0 + TILE, rows.hi);
        for (int j0 = columns.lo; j0 < columns.hi; j0 += TILE) {
            const int j1 = std::min(j0 + TILE, columns.hi);
            for (int i = i0; i < i1; i += 4) {
                const int32_t* const s0 = source_rows[i];
                const int32_t* const s1 = source_rows[i + 1];
                const int32_t* const s2 = source_rows[i + 2];
                const int32_t* const s3 = source_rows[i + 3];
                // Result columns c0 + DI*i .. c0 + DI*(i+3), lowest first.
                const int64_t first_column = DI > 0 ? c0 + i : c0 - i - 3;
                for (int j = j0; j < j1; j += 4) {
                    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + j));
                    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + j));
                    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s2 + j));
                    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s3 + j));
                    const __m128i ab_low = _mm_unpacklo_epi32(a, b), cd_low = _mm_unpacklo_epi32(c, d);
                    const __m128i ab_high = _mm_unpackhi_epi32(a, b), cd_high = _mm_unpackhi_epi32(c, d);
                    __m128i column[4] = {_mm_unpacklo_epi64(ab_low, cd_low), _mm_unpackhi_epi64(ab_low, cd_low),
                                         _mm_unpacklo_epi64(ab_high, cd_high), _mm_unpackhi_epi64(ab_high, cd_high)};
                    for (int k = 0; k < 4; ++k) {
                        if constexpr (DI < 0) column[k] = _mm_shuffle_epi32(column[k], _MM_SHUFFLE(0, 1, 2, 3));
                        int32_t* out = result_rows[r0 + DJ * (j + k)] + first_column;
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), column[k]);
                    }
                }
            }
        }
    }
}
#else
template <int DI, int DJ>
void move_quarter_blocks(int32_t* const* source_rows, int32_t* const* result_rows, index_range rows,
                         index_range columns, int64_t c0, int64_t r0) {
    move_quarter_tiles<DI, DJ>(source_rows, result_rows, rows, columns, c0, r0);
}
#endif

// The part of the ranges made of whole 4 x 4 blocks goes block by block; the
// rows and columns left over go one element at a time.
template <int DI, int DJ>
void move_quarter_turn(int32_t* const* source_rows, int32_t* const* result_rows, index_range rows,
                       index_range columns, int64_t c0, int64_t r0) {
    const index_range block_rows{rows.lo, rows.lo + (rows.hi - rows.lo) / 4 * 4};
    const index_range block_columns{columns.lo, columns.lo + (columns.hi - columns.lo) / 4 * 4};
    move_quarter_blocks<DI, DJ>(source_rows, result_rows, block_rows, block_columns, c0, r0);
    move_quarter_tiles<DI, DJ>(source_rows, result_rows, block_rows, {block_columns.hi, columns.hi}, c0, r0);
    move_quarter_tiles<DI, DJ>(source_rows, result_rows, {block_rows.hi, rows.hi}, columns, c0, r0);
}

// Half turn: source element (i, j) goes to result column c0 - j, row r0 - i.
void move_half_turn(int32_t* const* source_rows, int32_t* const* result_rows, index_range rows,
                    index_range columns, int64_t c0, int64_t r0) {
    if (columns.lo == columns.hi) return;
    for (int i = rows.lo; i < rows.hi; ++i) {
        const int32_t* in = source_rows[i];
        int32_t* out = result_rows[r0 - i] + (c0 - columns.lo);
        for (int j = columns.lo; j < columns.hi; ++j) out[columns.lo - j] = in[j];
    }
}

// Where a turn puts the source: the start place (c0, r0) of source element
// (0, 0) and the source rows and columns whose places lie in the result.
struct exact_plan {
    int64_t c0;
    int64_t r0;
    index_range rows;
    index_range columns;
};

// False when a start place lies beyond the 32-bit range, so that no element
// lands in the result.
bool plan_exact_move(const window& source_window, const window& result_window, double px, double py, int turn,
                     exact_plan* plan) {
    const double sx = source_window.x, sy = source_window.y;
    const double dx = result_window.x, dy = result_window.y;
    const int source_width = source_window.width, source_height = source_window.height;
    const int64_t width = result_window.width, height = result_window.height;

    // Start place (c0, r0) of source element (0, 0), each evaluated left to
    // right and then truncated.
    double c0_value = 0, r0_value = 0;
    switch (turn) {
        case 90:
            c0_value = px - py + sy - dx;
            r0_value = py + px - sx - dy;
            break;
        case -90:
            c0_value = px + py - sy - dx;
            r0_value = py - px + sx - dy;
            break;
        default:
            c0_value = px + px - sx - dx;
            r0_value = py + py - sy - dy;
            break;
    }
    if (!start_place(c0_value, &plan->c0) || !start_place(r0_value, &plan->r0)) return false;

    switch (turn) {
        case 90:  // (i, j) -> (c0 + i, r0 - j)
            plan->rows = landing_range(plan->c0, 1, width, source_height);
            plan->columns = landing_range(plan->r0, -1, height, source_width);
            break;
        case -90:  // (i, j) -> (c0 - i, r0 + j)
            plan->rows = landing_range(plan->c0, -1, width, source_height);
            plan->columns = landing_range(plan->r0, 1, height, source_width);
            break;
        default:  // (i, j) -> (c0 - j, r0 - i)
            plan->rows = landing_range(plan->r0, -1, height, source_height);
            plan->columns = landing_range(plan->c0, -1, width, source_width);
            break;
    }
    return true;
}

// The result places of the source indices lo .. hi-1 under place start +
// step*k, as a range lo .. hi-1 of result indices.
index_range places_of(index_range k, int64_t start, int step) {
    if (k.lo == k.hi) return {0, 0};
    const int64_t first = start + step * int64_t{k.lo}, last = start + step * int64_t{k.hi - 1};
    return {static_cast<int>(std::min(first, last)), static_cast<int>(std::max(first, last)) + 1};
}

}  // namespace

landing_area exact_landing_area(const window& source_window, const window& result_window, double px, double py,
                                int turn) {
    exact_plan plan{};
    if (!plan_exact_move(source_window, result_window, px, py, turn, &plan)) return {};
    if (plan.rows.lo == plan.rows.hi || plan.columns.lo == plan.columns.hi) return {};
    index_range columns{}, rows{};
    switch (turn) {
        case 90:
            columns = places_of(plan.rows, plan.c0, 1);
            rows = places_of(plan.columns, plan.r0, -1);
            break;
        case -90:
            columns = places_of(plan.rows, plan.c0, -1);
            rows = places_of(plan.columns, plan.r0, 1);
            break;
        default:
            columns = places_of(plan.columns, plan.c0, -1);
            rows = places_of(plan.rows, plan.r0, -1);
            break;
    }
    return {columns.lo, columns.hi, rows.lo, rows.hi};
}

namespace {

// Quarter turn of a square n x n array onto itself, 90 degrees when
// counter_clockwise (element (i, j) to row n-1-j, column i), else -90 (to row
// j, column n-1-i): each element of the upper-left quadrant starts a cycle of
// four that moves every value once. The quadrant is walked in tiles, so the
// four rows and columns each tile touches stay in the cache.
void quarter_turn_elements(int32_t* a, std::ptrdiff_t n, bool counter_clockwise) {
    constexpr std::ptrdiff_t QUADRANT_TILE = 32;
    const std::ptrdiff_t rows = n / 2, columns = (n + 1) / 2, last = n - 1;
    const auto at = [a, n](std::ptrdiff_t i, std::ptrdiff_t j) -> int32_t& { return a[i * n + j]; };
    for (std::ptrdiff_t i0 = 0; i0 < rows; i0 += QUADRANT_TILE) {
        for (std::ptrdiff_t j0 = 0; j0 < columns; j0 += QUADRANT_TILE) {
            for (std::ptrdiff_t i = i0; i < std::min(i0 + QUADRANT_TILE, rows); ++i) {
                for (std::ptrdiff_t j = j0; j < std::min(j0 + QUADRANT_TILE, columns); ++j) {
                    const int32_t first = at(i, j);
                    if (counter_clockwise) {
                        at(i, j) = at(j, last - i);
                        at(j, last - i) = at(last - i, last - j);
                        at(last - i, last - j) = at(last - j, i);
                        at(last - j, i) = first;
                    } else {
                        at(i, j) = at(last - j, i);
                        at(last - j, i) = at(last - i, last - j);
                        at(last - i, last - j) = at(j, last - i);
                        at(j, last - i) = first;
                    }
                }
            }
        }
    }
}

#if defined(SPINMAP_SSE2)
// A 4 x 4 block of the array, as four rows.
struct block4 {
    __m128i row[4];
};

block4 load_block(const int32_t* a, std::ptrdiff_t n, std::ptrdiff_t bi, std::ptrdiff_t bj) {
    const int32_t* p = a + 4 * bi * n + 4 * bj;
    return {{_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * n)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * n))}};
}

void store_block(int32_t* a, std::ptrdiff_t n, std::ptrdiff_t bi, std::ptrdiff_t bj, const block4& b) {
    int32_t* p = a + 4 * bi * n + 4 * bj;
    for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k * n), b.row[k]);
}

// The block turned as the whole array is: 90 degrees makes row r the old
// column 3-r, -90 makes it the old column r read upwards.
block4 turn_block(const block4& b, bool counter_clockwise) {
    const __m128i ab_low = _mm_unpacklo_epi32(b.row[0], b.row[1]), cd_low = _mm_unpacklo_epi32(b.row[2], b.row[3]);
    const __m128i ab_high = _mm_unpackhi_epi32(b.row[0], b.row[1]), cd_high = _mm_unpackhi_epi32(b.row[2], b.row[3]);
    const __m128i column[4] = {_mm_unpacklo_epi64(ab_low, cd_low), _mm_unpackhi_epi64(ab_low, cd_low),
                               _mm_unpacklo_epi64(ab_high, cd_high), _mm_unpackhi_epi64(ab_high, cd_high)};
    if (counter_clockwise) return {{column[3], column[2], column[1], column[0]}};
    block4 turned;
    for (int k = 0; k < 4; ++k) turned.row[k] = _mm_shuffle_epi32(column[k], _MM_SHUFFLE(0, 1, 2, 3));
    return turned;
}

// Where block (i, j) of the upper-left quadrant stands at place k of its
// cycle, in the order the 90 degree turn moves along it.
struct block_place {
    std::ptrdiff_t row, column;
};

block_place place_of(int k, std::ptrdiff_t i, std::ptrdiff_t j, std::ptrdiff_t last) {
    switch (k) {
        case 0:
            return {i, j};
        case 1:
            return {last - j, i};
        case 2:
            return {last - i, last - j};
        default:
            return {j, last - i};
    }
}

// The same turn for a side that is a multiple of 4, by whole 4 x 4 blocks:
// block (I, J) goes where element (I, J) of an m x m array (m = n / 4)
// would, turned within itself, so the blocks cycle four at a time as the
// elements do (a middle block of odd m turns in its place).
//
// The upper-left quadrant is walked in tiles of TILE x TILE blocks, whose
// four places in the cycle are four squares of 64 rows. Each place is read
// whole into `held` (64 KiB) before any is written, each read and each
// write running along its rows: the rows of a frame lie a power of two
// apart and share cache sets, so places walked four at a time, block by
// block, kept evicting each other's lines (4096 x 4096: 13 ms against 28
// with tiles of 4 and 38 with 2).
void quarter_turn_blocks(int32_t* a, std::ptrdiff_t n, bool counter_clockwise) {
    constexpr std::ptrdiff_t TILE = 16;
    const std::ptrdiff_t m = n / 4, rows = m / 2, columns = (m + 1) / 2, last = m - 1;
    block4 held[4][TILE][TILE];
    for (std::ptrdiff_t i0 = 0; i0 < rows; i0 += TILE) {
        for (std::ptrdiff_t j0 = 0; j0 < columns; j0 += TILE) {
            const std::ptrdiff_t tile_rows = std::min(TILE, rows - i0), tile_columns = std::min(TILE, columns - j0);
            // f(di, dj, place) for every block (i0 + di, j0 + dj) of the tile,
            // along the rows of place k: places 1 and 3 have the tile's
            // columns as their rows.
            const auto visit = [&](int k, auto&& f) {
                const bool transposed = k % 2 == 1;
                const std::ptrdiff_t outer = transposed ? tile_columns : tile_rows;
                const std::ptrdiff_t inner = transposed ? tile_rows : tile_columns;
                for (std::ptrdiff_t u = 0; u < outer; ++u) {
                    for (std::ptrdiff_t v = 0; v < inner; ++v) {
                        const std::ptrdiff_t di = transposed ? v : u, dj = transposed ? u : v;
                        f(di, dj, place_of(k, i0 + di, j0 + dj, last));
                    }
                }
            };
            for (int k = 0; k < 4; ++k) {
                visit(k, [&](std::ptrdiff_t di, std::ptrdiff_t dj, block_place p) {
                    held[k][di][dj] = turn_block(load_block(a, n, p.row, p.column), counter_clockwise);
                });
            }
            for (int k = 0; k < 4; ++k) {
                const int to = counter_clockwise ? (k + 1) % 4 : (k + 3) % 4;
                visit(to, [&](std::ptrdiff_t di, std::ptrdiff_t dj, block_place p) {
                    store_block(a, n, p.row, p.column, held[k][di][dj]);
                });
            }
        }
    }
    if (m % 2 == 1) store_block(a, n, rows, rows, turn_block(load_block(a, n, rows, rows), counter_clockwise));
}
#endif

void quarter_turn_in_place(int32_t* a, std::ptrdiff_t n, bool counter_clockwise) {
#if defined(SPINMAP_SSE2)
    if (n % 4 == 0) {
        quarter_turn_blocks(a, n, counter_clockwise);
        return;
    }
#endif
    quarter_turn_elements(a, n, counter_clockwise);
}

}  // namespace

bool rotate_exact_in_place(height_matrix* m, double px, double py, int turn) {
    const window& w = m->window;
    exact_plan plan{};
    if (!is_usable_matrix(*m) || w.width == 0 || w.height == 0) return false;
    if (!plan_exact_move(w, w, px, py, turn, &plan)) return false;
    const int64_t last_column = w.width - 1, last_row = w.height - 1;
    switch (turn) {
        case 90:
            if (w.width != w.height || plan.c0 != 0 || plan.r0 != last_row) return false;
            quarter_turn_in_place(m->matrix, w.width, true);
            return true;
        case -90:
            if (w.width != w.height || plan.c0 != last_column || plan.r0 != 0) return false;
            quarter_turn_in_place(m->matrix, w.width, false);
            return true;
        case 180:
            // Element (i, j) to (height-1-i, width-1-j): the array reversed.
            if (plan.c0 != last_column || plan.r0 != last_row) return false;
            std::reverse(m->matrix, m->matrix + std::ptrdiff_t{w.width} * w.height);
            return true;
        default:
            return false;
    }
}

int matrix_rotate_exact(const height_matrix* source, height_matrix* result, double px, double py, int turn) {
    const int error = check_kernel_matrices(source, result);
    if (error != 0) return error;
    if (std::fmod(px, 0.5) != 0 || std::fmod(py, 0.5) != 0) return ERR_INVALID_PARAM;
    if (turn != 90 && turn != -90 && turn != 180) return ERR_INVALID_PARAM;

    row_tables tables;
    const int table_error = tables.build(source, result);
    if (table_error != 0) return table_error;

    exact_plan plan{};
    if (!plan_exact_move(source->window, result->window, px, py, turn, &plan)) return 0;
    switch (turn) {
        case 90:
            move_quarter_turn<1, -1>(tables.source(), tables.result(), plan.rows, plan.columns, plan.c0, plan.r0);
            break;
        case -90:
            move_quarter_turn<-1, 1>(tables.source(), tables.result(), plan.rows, plan.columns, plan.c0, plan.r0);
            break;
        default:
            move_half_turn(tables.source(), tables.result(), plan.rows, plan.columns, plan.c0, plan.r0);
            break;
    }
    return 0;
}

}  // namespace spinmap
