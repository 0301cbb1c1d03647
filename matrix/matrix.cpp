// Matrix records: allocation, release, filling and element addressing.
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "matrix.h"

namespace spinmap {

malloc_fn malloc_hook = std::malloc;
realloc_fn realloc_hook = std::realloc;
calloc_fn calloc_hook = std::calloc;
free_fn free_hook = std::free;

namespace {

// Element count of `frames` frames over window w, computed in 64 bits so no
// product can wrap. False for a negative extent or frame count, or when the
// count does not fit the 32-bit size field or its byte size a size_t.
bool element_count(const window& w, int64_t frames, std::size_t element_bytes, uint32_t* count) {
    if (w.width < 0 || w.height < 0 || frames < 0) return false;
    const int64_t n = frames * w.width * w.height;  // at most 32767^3: fits
    if (n > int64_t{std::numeric_limits<uint32_t>::max()}) return false;
    if (static_cast<uint64_t>(n) > std::numeric_limits<std::size_t>::max() / element_bytes) return false;
    *count = static_cast<uint32_t>(n);
    return true;
}

// Releases the array through free_hook and leaves the record without one.
template <typename Matrix>
void release_array(Matrix* m) {
    if (m->matrix != nullptr) free_hook(m->matrix);
    m->matrix = nullptr;
    m->size = 0;
}

// Gives the record an array of `count` elements unless the one it holds
// already has exactly that many, or more and keep is set (contents stay).
// ERR_NO_MEM leaves the record without an array.
template <typename Matrix>
int ensure_array(Matrix* m, uint32_t count, bool keep) {
    using Element = std::remove_pointer_t<decltype(m->matrix)>;
    if (count == m->size || (count < m->size && keep)) return 0;
    release_array(m);
    m->matrix = static_cast<Element*>(malloc_hook(std::size_t{count} * sizeof(Element)));
    if (m->matrix == nullptr) return ERR_NO_MEM;
    m->size = count;
    return 0;
}

}  // namespace

void matrix_clear(height_matrix* m) { *m = height_matrix{}; }

void matrix_clear(intensity_matrix* m) { *m = intensity_matrix{}; }

int matrix_alloc(height_matrix* m) {
    uint32_t count = 0;
    if (!element_count(m->window, 1, sizeof(int32_t), &count) || count == 0) return ERR_PARAM_OUT_OF_RANGE;
    m->size = 0;
    m->matrix = static_cast<int32_t*>(malloc_hook(std::size_t{count} * sizeof(int32_t)));
    if (m->matrix == nullptr) return ERR_NO_MEM;
    m->size = count;
    return 0;
}

int matrix_alloc(intensity_matrix* m) {
    uint32_t count = 0;
    if (!element_count(m->window, m->n_buckets, sizeof(uint16_t), &count) || count == 0) return ERR_PARAM_OUT_OF_RANGE;
    m->size = 0;
    m->matrix = static_cast<uint16_t*>(malloc_hook(std::size_t{count} * sizeof(uint16_t)));
    if (m->matrix == nullptr) {
        m->n_buckets = 0;
        m->window.width = 0;
        m->window.height = 0;
        return ERR_NO_MEM;
    }
    m->size = count;
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

// A new count of 0 drops the array but keeps the old window (and bucket
// count); on ERR_NO_MEM the record has no array and its old window.
int matrix_resize(height_matrix* m, const window& w, bool keep) {
    if (m->matrix == nullptr) m->size = 0;
    uint32_t count = 0;
    if (!element_count(w, 1, sizeof(int32_t), &count)) return ERR_PARAM_OUT_OF_RANGE;
    if (count == 0) {
        release_array(m);
        return 0;
    }
    const int code = ensure_array(m, count, keep);
    if (code != 0) return code;
    m->window = w;
    return 0;
}

int matrix_resize(intensity_matrix* m, const window& w, int16_t n_buckets, bool keep) {
    if (m->matrix == nullptr) m->size = 0;
    uint32_t count = 0;
    if (!element_count(w, n_buckets, sizeof(uint16_t), &count)) return ERR_PARAM_OUT_OF_RANGE;
    if (count == 0) {
        release_array(m);
        return 0;
    }
    const int code = ensure_array(m, count, keep);
    if (code != 0) return code;
    m->window = w;
    m->n_buckets = n_buckets;
    return 0;
}

}  // namespace spinmap
