// The plain row kernel of interpolating resampling: one point at a time,
// with no vector instruction. It is the reference the vector kernels agree
// with bit for bit, and it takes the points they leave over.
#include <spinmap/transform/interp_lanes.h>

namespace spinmap {

// The n points of one strip row: positions, then values.
void evaluate_row_plain(int32_t* const* source_rows, const double* c_x, const double* s_x, int n, const row_terms& t,
                        int32_t* out) {
    double a[STRIP], b[STRIP];
    for (int k = 0; k < n; ++k) {
        a[k] = c_x[k] - t.s_y + t.px - t.sx;
        b[k] = s_x[k] + t.c_y + t.py - t.sy;
    }
    for (int k = 0; k < n; k += PREFETCH_EVERY) {
        if (a[k] >= 0 && a[k] <= t.last_column && b[k] >= 0 && b[k] <= t.last_row) {
            prefetch_ahead(source_rows[0], static_cast<int32_t>(b[k]) * t.width + static_cast<int32_t>(a[k]), t);
        }
    }
    for (int k = 0; k < n; ++k) out[k] = plane_value(source_rows, a[k], b[k], t.last_column, t.last_row);
}

}  // namespace spinmap
