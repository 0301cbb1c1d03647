// Argument checks and row tables shared by the rotation kernels.
#include <spinmap/transform/kernel_support.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace spinmap {

namespace {

constexpr int32_t COORDINATE_MAX = 32767;

hook_buffer<int32_t*> allocate_row_table(const window& w) {
    return hook_allocate<int32_t*>(w.height > 0 ? static_cast<std::size_t>(w.height) : 1);
}

}  // namespace

std::optional<exact_turn> exact_turn_of(double degrees) {
    if (degrees == 90) return exact_turn::counter_clockwise;
    if (degrees == -90) return exact_turn::clockwise;
    if (degrees == 180) return exact_turn::half;
    return std::nullopt;
}

bool on_half_pixels(double p) { return std::fmod(p, 0.5) == 0; }

bool holds_its_window(const height_matrix& m) {
    if (m.matrix == nullptr || m.window.width < 0 || m.window.height < 0) return false;
    const uint64_t count = static_cast<uint64_t>(m.window.width) * static_cast<uint64_t>(m.window.height);
    return count <= m.size;
}

bool is_usable_matrix(const height_matrix& m) { return holds_its_window(m) && wn_is_proper(m.window); }

bool is_walkable_window(const window& w) {
    return int32_t{w.x} + w.width <= COORDINATE_MAX && int32_t{w.y} + w.height <= COORDINATE_MAX;
}

int check_kernel_matrices(const height_matrix* source, const height_matrix* result) {
    if (source == nullptr || result == nullptr) return ERR_INVALID_PARAM;
    if (!is_usable_matrix(*source) || !holds_its_window(*result)) return ERR_INVALID_PARAM;
    if (!is_walkable_window(result->window)) return ERR_IMPROPER_WINDOW;
    return 0;
}

void fill_outside(int32_t* elements, std::ptrdiff_t pitch, int width, int height, const landing_area& area) {
    const bool empty = area.col_lo == area.col_hi || area.row_lo == area.row_hi;
    for (int row = 0; row < height; ++row) {
        int32_t* const line = elements + row * pitch;
        if (empty || row < area.row_lo || row >= area.row_hi) {
            std::fill(line, line + width, INVALID_HEIGHT);
        } else {
            std::fill(line, line + area.col_lo, INVALID_HEIGHT);
            std::fill(line + area.col_hi, line + width, INVALID_HEIGHT);
        }
    }
}

int row_tables::build(const height_matrix* source, const height_matrix* result) {
    source_ = allocate_row_table(source->window);
    if (source_ == nullptr) return ERR_NO_MEM;
    result_ = allocate_row_table(result->window);
    if (result_ == nullptr) return ERR_NO_MEM;
    matrix_rows(source, nullptr, source_.get());
    matrix_rows(result, nullptr, result_.get());
    return 0;
}

}  // namespace spinmap
