// Matrix records: allocation, release, filling and element addressing.
#include <cstdlib>
#include <limits>

#include "matrix.h"

namespace spinmap {

malloc_fn malloc_hook = std::malloc;
realloc_fn realloc_hook = std::realloc;
calloc_fn calloc_hook = std::calloc;
free_fn free_hook = std::free;

namespace {

// Element count of an array of `frames` frames over window w, or -1 when the
// count is zero, an extent is negative, or the byte size would not fit in
// either the 32-bit size field or a size_t.
int64_t element_count(const window& w, int64_t frames, std::size_t element_bytes) {
    if (w.width <= 0 || w.height <= 0 || frames <= 0) return -1;
    const int64_t count = frames * w.width * w.height;  // at most 32767^3: fits
    if (count > int64_t{std::numeric_limits<uint32_t>::max()}) return -1;
    if (static_cast<uint64_t>(count) > std::numeric_limits<std::size_t>::max() / element_bytes) return -1;
    return count;
}

}  // namespace

void matrix_clear(height_matrix* m) { *m = height_matrix{}; }

void matrix_clear(intensity_matrix* m) { *m = intensity_matrix{}; }

int matrix_alloc(height_matrix* m) {
    const int64_t count = element_count(m->window, 1, sizeof(int32_t));
    if (count < 0) return ERR_PARAM_OUT_OF_RANGE;
    m->size = 0;
    m->matrix = static_cast<int32_t*>(malloc_hook(static_cast<std::size_t>(count) * sizeof(int32_t)));
    if (m->matrix == nullptr) return ERR_NO_MEM;
    m->size = static_cast<uint32_t>(count);
    return 0;
}

int matrix_alloc(intensity_matrix* m) {
    const int64_t count = element_count(m->window, m->n_buckets, sizeof(uint16_t));
    if (count < 0) return ERR_PARAM_OUT_OF_RANGE;
    m->size = 0;
    m->matrix = static_cast<uint16_t*>(malloc_hook(static_cast<std::size_t>(count) * sizeof(uint16_t)));
    if (m->matrix == nullptr) {
        m->n_buckets = 0;
        m->window.width = 0;
        m->window.height = 0;
        return ERR_NO_MEM;
    }
    m->size = static_cast<uint32_t>(count);
    return 0;
}

int matrix_free(height_matrix* m) {
    if (m->matrix != nullptr) {
        free_hook(m->matrix);
        m->matrix = nullptr;
    }
    m->size = 0;
    m->window.width = 0;
    m->window.height = 0;
    return 0;
}

void matrix_free(intensity_matrix* m) {
    if (m->matrix != nullptr) {
        free_hook(m->matrix);
        m->matrix = nullptr;
    }
    m->size = 0;
    m->window.width = 0;
    m->window.height = 0;
    m->n_buckets = 0;
}

void matrix_fill(height_matrix* m, int32_t value) {
    if (m->matrix == nullptr || m->window.width <= 0 || m->window.height <= 0) return;
    const uint64_t count = static_cast<uint64_t>(m->window.width) * static_cast<uint64_t>(m->window.height);
    // Never beyond the allocation, whatever the window says now.
    const uint64_t n = count < m->size ? count : m->size;
    for (uint64_t i = 0; i < n; ++i) m->matrix[i] = value;
}

void matrix_fill(intensity_matrix* m, uint16_t value) {
    if (m->matrix == nullptr || m->window.width <= 0 || m->window.height <= 0 || m->n_buckets <= 0) return;
    const uint64_t count = static_cast<uint64_t>(m->n_buckets) * static_cast<uint64_t>(m->window.width) *
                           static_cast<uint64_t>(m->window.height);
    const uint64_t n = count < m->size ? count : m->size;
    for (uint64_t i = 0; i < n; ++i) m->matrix[i] = value;
}

int32_t* matrix_element(const height_matrix* m, const window& w) {
    const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(w.y - m->window.y) * m->window.width + (w.x - m->window.x);
    return m->matrix + index;
}

uint16_t* matrix_element(const intensity_matrix* m, const window& w) {
    const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(w.y - m->window.y) * m->window.width + (w.x - m->window.x);
    return m->matrix + index;
}

void matrix_rows(const height_matrix* m, const window* w, int32_t** rows) {
    const window& area = w != nullptr ? *w : m->window;
    rows[0] = matrix_element(m, area);
    for (int i = 1; i < area.height; ++i) rows[i] = rows[i - 1] + m->window.width;
}

void matrix_frame_rows(const intensity_matrix* m, int bucket, const window* w, uint16_t** rows) {
    const window& area = w != nullptr ? *w : m->window;
    const std::ptrdiff_t frame = static_cast<std::ptrdiff_t>(bucket) * m->window.width * m->window.height;
    rows[0] = matrix_element(m, area) + frame;
    for (int i = 1; i < area.height; ++i) rows[i] = rows[i - 1] + m->window.width;
}

}  // namespace spinmap
