// Matrices for the transform tests, and plain per-point reference versions
// of both kernels: the formulas written out directly, with no hoisting and no
// clipped loops, so that any later tuning of the kernels is checked bit for
// bit against them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <spinmap/matrix/matrix.h>
#include "support.h"
#include <spinmap/transform/transform.h>

namespace spinmap::test {

constexpr int32_t NV = INVALID_HEIGHT;

// A height matrix owning its array for the length of a test.
struct owned_matrix {
    owned_height m;

    owned_matrix(window w, const std::vector<int32_t>& values) {
        m.window = w;
        if (matrix_alloc(&m) != 0) std::abort();
        for (uint32_t k = 0; k < m.size; ++k) m.matrix[k] = values.at(k);
    }
    owned_matrix(window w, int32_t fill) : owned_matrix(w, std::vector<int32_t>(size_t(w.width) * w.height, fill)) {}

    std::vector<int32_t> values() const { return {m.matrix, m.matrix + size_t(m.window.width) * m.window.height}; }
    // Element at camera pixel (x, y).
    int32_t at(int x, int y) const { return m.matrix[(y - m.window.y) * m.window.width + (x - m.window.x)]; }
};

// Values that name their own camera pixel: x + 1000 * y.
inline std::vector<int32_t> coordinate_raster(window w) {
    std::vector<int32_t> v;
    for (int y = w.y; y < w.y + w.height; ++y)
        for (int x = w.x; x < w.x + w.width; ++x) v.push_back(x + 1000 * y);
    return v;
}

// Random heights, about one in invalid_one_in invalid (0: none).
inline std::vector<int32_t> random_heights(window w, uint32_t seed, int invalid_one_in, int32_t span = 100000) {
    std::mt19937 gen(seed);
    std::vector<int32_t> v(size_t(w.width) * w.height);
    for (int32_t& value : v) {
        const bool invalid = invalid_one_in > 0 && gen() % uint32_t(invalid_one_in) == 0;
        const uint64_t range = 2 * uint64_t(span) + 1;
        value = invalid ? NV + int32_t(gen() % 8) : int32_t(int64_t(gen() % range) - span);
    }
    return v;
}

// Turn of 90, -90 or 180 degrees: source (i, j) to (c0 + i, r0 - j),
// (c0 - i, r0 + j) or (c0 - j, r0 - i), tested place by place.
inline void reference_rotate_exact(const height_matrix& src, height_matrix& dst, double px, double py, int turn) {
    const window s = src.window, d = dst.window;
    double c0 = 0, r0 = 0;
    if (turn == 90) {
        c0 = px - py + s.y - d.x;
        r0 = py + px - s.x - d.y;
    } else if (turn == -90) {
        c0 = px + py - s.y - d.x;
        r0 = py - px + s.x - d.y;
    } else {
        c0 = px + px - s.x - d.x;
        r0 = py + py - s.y - d.y;
    }
    if (!(std::fabs(c0) < 2147483648.0 && std::fabs(r0) < 2147483648.0)) return;
    const int64_t c = int64_t(c0), r = int64_t(r0);
    for (int64_t i = 0; i < s.height; ++i) {
        for (int64_t j = 0; j < s.width; ++j) {
            const int64_t col = turn == 90 ? c + i : turn == -90 ? c - i : c - j;
            const int64_t row = turn == 90 ? r - j : turn == -90 ? r + j : r - i;
            if (col >= 0 && col < d.width && row >= 0 && row < d.height)
                dst.matrix[row * d.width + col] = src.matrix[i * s.width + j];
        }
    }
}

inline int32_t reference_interp_point(const height_matrix& src, double a, double b) {
    const window s = src.window;
    if (!(a >= 0 && std::ceil(a) < s.width && b >= 0 && std::ceil(b) < s.height)) return NV;
    const int x0 = int(a), x1 = int(std::ceil(a)), y0 = int(b), y1 = int(std::ceil(b));
    const int64_t f00 = src.matrix[y0 * s.width + x0], f01 = src.matrix[y0 * s.width + x1];
    const int64_t f10 = src.matrix[y1 * s.width + x0], f11 = src.matrix[y1 * s.width + x1];
    if (f00 >= NV || f01 >= NV || f10 >= NV || f11 >= NV) return NV;
    const int64_t S = f00 + f01 + f10 + f11;
    const int64_t gx = (f01 + f11) - (f00 + f10);
    const int64_t gy = (f10 + f11) - (f00 + f01);
    double v = 0.5 * (double(gy) * (b - y0 - 0.5) + double(gx) * (a - x0 - 0.5)) + double(S) / 4;
    v = v >= 0 ? v + 0.5 : v - 0.5;
    const double whole = std::trunc(v);
    if (whole >= double(NV) || whole < -2147483648.0) return NV;
    return int32_t(whole);
}

inline void reference_resample_interp(const height_matrix& src, height_matrix& dst, double px, double py,
                                      double angle) {
    const double theta = std::fmod(angle, 360) / 57.2957795131;
    const double s = rounded_sin(theta), c = rounded_cos(theta);
    const window d = dst.window;
    for (int Y = d.y; Y < d.y + d.height; ++Y) {
        for (int X = d.x; X < d.x + d.width; ++X) {
            const double a = c * (X - px) - s * (Y - py) + px - src.window.x;
            const double b = s * (X - px) + c * (Y - py) + py - src.window.y;
            dst.matrix[(Y - d.y) * d.width + (X - d.x)] = reference_interp_point(src, a, b);
        }
    }
}

}  // namespace spinmap::test
