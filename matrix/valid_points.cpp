// Operations on the valid points of height matrices: counting them, the
// minimum window enclosing them and its centre, copying a sub-window, and
// trimming a matrix to its valid points.
#include <cstring>

#include "matrix.h"
#include "vector_paths.h"

#if defined(SPINMAP_SSE2)
#include <emmintrin.h>
#endif

namespace spinmap {

namespace {

// Room for a row table of any 16-bit height; the scans keep it on their own
// stack frame so they allocate nothing.
constexpr int ROW_TABLE_ROWS = 32768;

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

bool row_has_valid(const int32_t* row, int width) {
    for (int j = 0; j < width; ++j)
        if (is_valid_height(row[j])) return true;
    return false;
}

bool column_has_valid(int32_t* const* rows, int column, int top, int bottom) {
    for (int i = top; i <= bottom; ++i)
        if (is_valid_height(rows[i][column])) return true;
    return false;
}

// First row from the top holding a valid element, or -1 when none does.
int find_top_row(int32_t* const* rows, const window& area) {
    for (int i = 0; i < area.height; ++i)
        if (row_has_valid(rows[i], area.width)) return i;
    return -1;
}

// First row from the bottom holding a valid element; row `top` holds one.
int find_bottom_row(int32_t* const* rows, const window& area, int top) {
    int i = area.height - 1;
    while (i > top && !row_has_valid(rows[i], area.width)) --i;
    return i;
}

// First column from the left holding a valid element within rows top..bottom.
int find_left_column(int32_t* const* rows, const window& area, int top, int bottom) {
    int j = 0;
    while (j < area.width - 1 && !column_has_valid(rows, j, top, bottom)) ++j;
    return j;
}

// First column from the right holding a valid element; column `left` holds one.
int find_right_column(int32_t* const* rows, const window& area, int top, int bottom, int left) {
    int j = area.width - 1;
    while (j > left && !column_has_valid(rows, j, top, bottom)) --j;
    return j;
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

    int32_t* rows[ROW_TABLE_ROWS];
    matrix_rows(m, &area, rows);
    const int top = find_top_row(rows, area);
    if (top < 0) return ERR_ALL_BAD_DATA;
    const int bottom = find_bottom_row(rows, area, top);
    const int left = find_left_column(rows, area, top, bottom);
    const int right = find_right_column(rows, area, top, bottom, left);

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
    int code = matrix_valid_window(m, nullptr, &valid);
    if (code != 0) return code;
    if (wn_compare(m->window, valid) == WN_EQUAL) return 0;

    height_matrix trimmed;
    matrix_clear(&trimmed);
    trimmed.window = valid;
    code = matrix_alloc(&trimmed);
    if (code != 0) return code;
    code = matrix_copy_window(m, &trimmed);  // valid lies within m's window
    if (code != 0) {
        matrix_free(&trimmed);
        return code;
    }
    matrix_free(m);
    *m = trimmed;
    return 0;
}

}  // namespace spinmap
