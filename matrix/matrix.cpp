// Matrix records: allocation, release, filling and element addressing.
#include <cstdlib>
#include <limits>
#include <type_traits>

#include <spinmap/matrix/matrix.h>

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

// The frames a record holds: one for heights, n_buckets for intensity.
constexpr int64_t frames_of(const height_matrix&) { return 1; }
constexpr int64_t frames_of(const intensity_matrix& m) { return m.n_buckets; }

template <typename Matrix>
using element_of = std::remove_pointer_t<decltype(Matrix::matrix)>;

template <typename Matrix>
constexpr bool has_frames = std::is_same_v<Matrix, intensity_matrix>;

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
    if (count == m->size || (count < m->size && keep)) return 0;
    release_array(m);
    m->matrix = static_cast<element_of<Matrix>*>(malloc_hook(std::size_t{count} * sizeof(element_of<Matrix>)));
    if (m->matrix == nullptr) return ERR_NO_MEM;
    m->size = count;
    return 0;
}

// A failed intensity allocation also loses its extent and bucket count.
template <typename Matrix>
int alloc_array(Matrix* m) {
    uint32_t count = 0;
    if (!element_count(m->window, frames_of(*m), sizeof(element_of<Matrix>), &count) || count == 0) {
        return ERR_PARAM_OUT_OF_RANGE;
    }
    m->size = 0;
    m->matrix = static_cast<element_of<Matrix>*>(malloc_hook(std::size_t{count} * sizeof(element_of<Matrix>)));
    if (m->matrix == nullptr) {
        if constexpr (has_frames<Matrix>) {
            m->n_buckets = 0;
            m->window.width = 0;
            m->window.height = 0;
        }
        return ERR_NO_MEM;
    }
    m->size = count;
    return 0;
}

template <typename Matrix>
void free_record(Matrix* m) {
    release_array(m);
    m->window.width = 0;
    m->window.height = 0;
    if constexpr (has_frames<Matrix>) m->n_buckets = 0;
}

template <typename Matrix>
void fill_elements(Matrix* m, element_of<Matrix> value) {
    const int64_t frames = frames_of(*m);
    if (m->matrix == nullptr || m->window.width <= 0 || m->window.height <= 0 || frames <= 0) return;
    const uint64_t count = static_cast<uint64_t>(frames) * static_cast<uint64_t>(m->window.width) *
                           static_cast<uint64_t>(m->window.height);
    // Never beyond the allocation, whatever the window says now.
    const uint64_t n = count < m->size ? count : m->size;
    for (uint64_t i = 0; i < n; ++i) m->matrix[i] = value;
}

template <typename Matrix>
element_of<Matrix>* element_at(const Matrix* m, const window& w) {
    const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(w.y - m->window.y) * m->window.width + (w.x - m->window.x);
    return m->matrix + index;
}

// A new count of 0 drops the array but keeps the old window (and bucket
// count); on ERR_NO_MEM the record has no array and its old window.
template <typename Matrix>
int resize_record(Matrix* m, const window& w, int16_t frames, bool keep) {
    if (m->matrix == nullptr) m->size = 0;
    uint32_t count = 0;
    if (!element_count(w, frames, sizeof(element_of<Matrix>), &count)) return ERR_PARAM_OUT_OF_RANGE;
    if (count == 0) {
        release_array(m);
        return 0;
    }
    const int code = ensure_array(m, count, keep);
    if (code != 0) return code;
    m->window = w;
    if constexpr (has_frames<Matrix>) m->n_buckets = frames;
    return 0;
}

}  // namespace

void matrix_clear(height_matrix* m) { *m = height_matrix{}; }

void matrix_clear(intensity_matrix* m) { *m = intensity_matrix{}; }

int matrix_alloc(height_matrix* m) { return alloc_array(m); }

int matrix_alloc(intensity_matrix* m) { return alloc_array(m); }

int matrix_free(height_matrix* m) {
    free_record(m);
    return 0;
}

int matrix_free(intensity_matrix* m) {
    free_record(m);
    return 0;
}

void matrix_fill(height_matrix* m, int32_t value) { fill_elements(m, value); }

void matrix_fill(intensity_matrix* m, uint16_t value) { fill_elements(m, value); }

int32_t* matrix_element(const height_matrix* m, const window& w) { return element_at(m, w); }

uint16_t* matrix_element(const intensity_matrix* m, const window& w) { return element_at(m, w); }

void matrix_rows(const height_matrix* m, const window* w, int32_t** rows) {
    const window& area = w != nullptr ? *w : m->window;
    rows[0] = matrix_element(m, area);
    for (int i = 1; i < area.height; ++i) rows[i] = rows[i - 1] + m->window.width;
}

int matrix_resize(height_matrix* m, const window& w, bool keep) { return resize_record(m, w, 1, keep); }

int matrix_resize(intensity_matrix* m, const window& w, int16_t n_buckets, bool keep) {
    return resize_record(m, w, n_buckets, keep);
}

}  // namespace spinmap
