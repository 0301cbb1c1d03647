// Operations on the valid points of height matrices: counting them, the
// minimum window enclosing them and its centre, copying a sub-window, and
// trimming a matrix to its valid points, and their statistics.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include <spinmap/matrix/matrix.h>
#include "vector_paths.h"
#include <spinmap/platform/platform.h>

#if defined(SPINMAP_SSE2)
#include <emmintrin.h>
#endif

namespace spinmap {

namespace {

// A record the operations may read: it has an array, a window in the 16-bit
// range, and an array at least as large as the window needs.
int check_matrix(const height_matrix* m) {
    if (m == nullptr || m->matrix == nullptr) return ERR_INVALID_PARAM;
    if (!wn_is_proper(m->window)) return ERR_IMPROPER_WINDOW;
    const uint64_t needed = static_cast<uint64_t>(m->window.width) * static_cast<uint64_t>(m->window.height);
    if (needed > m->size) return ERR_INVALID_PARAM;
    return 0;
}

// The part of the matrix an operation looks at: the search window s, which
// must lie inside or equal the matrix window, or the whole matrix when s is
// null.
int search_area(const height_matrix* m, const window* s, window* area) {
    if (s == nullptr) {
        *area = m->window;
        return 0;
    }
    if (!wn_is_proper(*s)) return ERR_IMPROPER_WINDOW;
    const int relation = wn_compare(*s, m->window);
    if (relation != WN_INSIDE && relation != WN_EQUAL) return ERR_IMPROPER_WINDOW;
    *area = *s;
    return 0;
}

// Valid elements among row[0 .. width-1]. With SSE2, four at a time: each
// lane compares below INVALID_HEIGHT (signed, as is_valid_height does),
// giving -1 per valid element, and the lane totals (each at most 8191) are
// added at the end.
int32_t count_valid_in_row(const int32_t* row, int width) {
    int32_t valid = 0;
    int j = 0;
#if defined(SPINMAP_SSE2)
    const __m128i limit = _mm_set1_epi32(INVALID_HEIGHT);
    __m128i lanes = _mm_setzero_si128();
    for (; j + 4 <= width; j += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
        lanes = _mm_sub_epi32(lanes, _mm_cmplt_epi32(v, limit));
    }
    int32_t totals[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(totals), lanes);
    valid = totals[0] + totals[1] + totals[2] + totals[3];
#endif
    for (; j < width; ++j)
        if (is_valid_height(row[j])) ++valid;
    return valid;
}

// Index of the first valid element of row[from .. to-1], or `to` when none
// is. With SSE2, four at a time: a block with a valid element is found by
// the same signed comparison, then searched one element at a time.
int first_valid(const int32_t* row, int from, int to) {
    int j = from;
#if defined(SPINMAP_SSE2)
    const __m128i limit = _mm_set1_epi32(INVALID_HEIGHT);
    for (; j + 4 <= to; j += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
        if (_mm_movemask_epi8(_mm_cmplt_epi32(v, limit)) != 0) break;
    }
#endif
    for (; j < to; ++j)
        if (is_valid_height(row[j])) return j;
    return to;
}

// Index of the last valid element of row[from .. to-1], or from - 1 when none
// is; searched from the right end.
int last_valid(const int32_t* row, int from, int to) {
    int j = to;
#if defined(SPINMAP_SSE2)
    const __m128i limit = _mm_set1_epi32(INVALID_HEIGHT);
    for (; j - 4 >= from; j -= 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j - 4));
        if (_mm_movemask_epi8(_mm_cmplt_epi32(v, limit)) != 0) break;
    }
#endif
    for (; j > from; --j)
        if (is_valid_height(row[j - 1])) return j - 1;
    return from - 1;
}

// The window of the valid points of `area`, whose rows start stride elements
// apart from `first`, as indices within the area; false when none is valid.
// Every scan runs along rows: the top and bottom rows are the first holding
// a valid element from either end; then each row between them is searched
// only left of the leftmost valid column found so far and right of the
// rightmost, which gives the same columns as scanning each column down the
// rows, without walking down columns.
bool find_valid_bounds(const int32_t* first, std::ptrdiff_t stride, const window& area, int* top, int* bottom,
                       int* left, int* right) {
    const int width = area.width;
    const auto row = [first, stride](int i) { return first + i * stride; };
    int i = 0;
    while (i < area.height && first_valid(row(i), 0, width) == width) ++i;
    if (i == area.height) return false;
    *top = i;
    i = area.height - 1;
    while (i > *top && first_valid(row(i), 0, width) == width) --i;
    *bottom = i;

    int l = first_valid(row(*top), 0, width);
    int r = last_valid(row(*top), l, width);
    for (i = *top + 1; i <= *bottom; ++i) {
        l = first_valid(row(i), 0, l);
        r = last_valid(row(i), r + 1, width);
    }
    *left = l;
    *right = r;
    return true;
}

// The valid points' bounds of one band of rows, as indices within the area.
struct band_bounds {
    bool any = false;
    int top = 0, bottom = 0, left = 0, right = 0;
};

// find_valid_bounds over bands of rows on several threads; each band's
// bounds are exact, and their least and greatest are the whole area's.
bool find_valid_bounds_in_bands(const int32_t* first, std::ptrdiff_t stride, const window& area, int* top,
                                int* bottom, int* left, int* right) {
    band_bounds bands[MOST_THREADS];
    const int band_count = std::min<int>(area.height, MOST_THREADS);
    run_in_bands(band_count, int64_t{area.width} * area.height / std::max(band_count, 1), [&](int lo, int hi) {
        for (int b = lo; b < hi; ++b) {
            const int row_lo = area.height * b / band_count, row_hi = area.height * (b + 1) / band_count;
            const window part{area.x, static_cast<int16_t>(area.y + row_lo), area.width,
                              static_cast<int16_t>(row_hi - row_lo)};
            band_bounds& found = bands[b];
            found.any = find_valid_bounds(first + row_lo * stride, stride, part, &found.top, &found.bottom,
                                          &found.left, &found.right);
            found.top += row_lo;
            found.bottom += row_lo;
        }
    });
    bool any = false;
    for (int b = 0; b < band_count; ++b) {
        const band_bounds& found = bands[b];
        if (!found.any) continue;
        if (!any) {
            *top = found.top;
            *left = found.left;
            *right = found.right;
        }
        any = true;
        *bottom = found.bottom;
        *left = std::min(*left, found.left);
        *right = std::max(*right, found.right);
    }
    return any;
}

}  // namespace

int matrix_count_valid(const height_matrix* m, const window* w, int32_t* count) {
    *count = 0;
    int code = check_matrix(m);
    if (code != 0) return code;
    window area{};
    code = search_area(m, w, &area);
    if (code != 0) return code;

    const int32_t* row = matrix_element(m, area);
    int32_t valid = 0;  // at most 32767 x 32767: fits
    for (int i = 0; i < area.height; ++i, row += m->window.width) valid += count_valid_in_row(row, area.width);
    *count = valid;
    return 0;
}

int matrix_valid_window(const height_matrix* m, const window* s, window* out) {
    int code = check_matrix(m);
    if (code != 0) return code;
    window area{};
    code = search_area(m, s, &area);
    if (code != 0) return code;
    *out = window{};

    int top = 0, bottom = 0, left = 0, right = 0;
    if (!find_valid_bounds_in_bands(matrix_element(m, area), m->window.width, area, &top, &bottom, &left,
                                    &right)) {
        return ERR_ALL_BAD_DATA;
    }

    // All within the area, whose right and bottom fit 16 bits.
    out->x = static_cast<int16_t>(area.x + left);
    out->y = static_cast<int16_t>(area.y + top);
    out->width = static_cast<int16_t>(right - left + 1);
    out->height = static_cast<int16_t>(bottom - top + 1);
    return 0;
}

int matrix_valid_center(const height_matrix* m, double* cx, double* cy) {
    window valid{};
    const int code = matrix_valid_window(m, nullptr, &valid);
    if (code != 0) return code;
    wn_center(valid, cx, cy);
    return 0;
}

int matrix_copy_window(const height_matrix* source, height_matrix* destination) {
    int code = check_matrix(source);
    if (code != 0) return code;
    code = check_matrix(destination);
    if (code != 0) return code;
    const window& to = destination->window;
    const int relation = wn_compare(source->window, to);
    if (relation != WN_CONTAINS && relation != WN_EQUAL) return ERR_IMPROPER_WINDOW;

    const std::size_t row_bytes = static_cast<std::size_t>(to.width) * sizeof(int32_t);
    for (int r = 0; r < to.height; ++r) {
        const window row_start{to.x, static_cast<int16_t>(to.y + r), to.width, 1};
        // memmove: source and destination may be the same record.
        std::memmove(destination->matrix + static_cast<std::ptrdiff_t>(r) * to.width,
                     matrix_element(source, row_start), row_bytes);
    }
    return 0;
}

int matrix_trim(height_matrix* m) {
    window valid{};
    const int code = matrix_valid_window(m, nullptr, &valid);
    if (code != 0) return code;
    if (wn_compare(m->window, valid) == WN_EQUAL) return 0;

    // Row r of the trimmed window moves to index r * valid.width, never past
    // where it or any later row starts now, so the rows can be moved in
    // order; memmove, since a row may overlap its own new place.
    const std::ptrdiff_t stride = m->window.width;
    const int32_t* const first = matrix_element(m, valid);
    const std::size_t row_bytes = static_cast<std::size_t>(valid.width) * sizeof(int32_t);
    for (std::ptrdiff_t r = 0; r < valid.height; ++r) {
        std::memmove(m->matrix + r * valid.width, first + r * stride, row_bytes);
    }
    m->window = valid;
    return 0;
}

int measure_heights(const height_matrix& height, height_statistics* stats) {
    const window& w = height.window;
    if (height.matrix == nullptr || w.width < 0 || w.height < 0) return ERR_INVALID_PARAM;
    const std::size_t n = static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
    if (n > height.size) return ERR_INVALID_PARAM;
    height_statistics s;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = height.matrix[i];
        if (!is_valid_height(v)) continue;
        if (s.count == 0 || v < s.minimum) s.minimum = v;
        if (s.count == 0 || v > s.maximum) s.maximum = v;
        sum += v;
        ++s.count;
    }
    if (s.count == 0) return ERR_ALL_BAD_DATA;
    s.mean = sum / static_cast<double>(s.count);
    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = height.matrix[i];
        if (!is_valid_height(v)) continue;
        const double d = v - s.mean;
        squares += d * d;
    }
    s.rms = std::sqrt(squares / static_cast<double>(s.count));
    *stats = s;
    return 0;
}

}  // namespace spinmap
