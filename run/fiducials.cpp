// Rotation of the header's fiducial groups by the motion applied to the
// height data.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include <spinmap/run/run.h>

namespace spinmap {

namespace {

// Rounds a double to the nearest float. A double beyond the float range
// becomes an infinity of its sign, as rounding to nearest gives, without an
// out-of-range conversion.
float to_float(double v) {
    constexpr double overflow = 0x1p128 - 0x1p103;  // half an ulp above the largest float
    if (v >= overflow) return HUGE_VALF;
    if (v <= -overflow) return -HUGE_VALF;
    if (v > FLT_MAX) return FLT_MAX;
    if (v < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(v);
}

}  // namespace

void rotate_fiducials(HeaderRecord* header, double pivot_x, double pivot_y, double angle, const report_sink& sink) {
    const int top_row = int{header->CameraHeight} - 1;
    for (const auto& g : fiducial_groups(*header)) {
        if (g.count <= 0) continue;
        rotate_fiducial_group(g.key, g.count, g.coordinates, top_row, pivot_x, pivot_y, angle, sink);
    }
}

void rotate_fiducial_group(const char* name, int count, float* coordinates, int top_row, double pivot_x,
                           double pivot_y, double angle, const report_sink& sink) {
    if (sink) sink(report_line(name, std::to_string(count) + " coord pairs\n"));

    // Rotate in a y-up frame: flip the pivot and every point about the top row.
    const double cx = pivot_x;
    const double cy = top_row - pivot_y;
    const double radians = angle / DEGREES_PER_RADIAN;
    // A count beyond the group's room lies outside the header format: only
    // the pairs the group holds are turned.
    const int pairs = std::min(count, FIDUCIAL_ROOM);
    for (int i = 0; i < pairs; ++i) {
        double x = coordinates[2 * i];
        double y = top_row - static_cast<double>(coordinates[2 * i + 1]);
        rotate_point(&x, &y, cx, cy, radians);
        coordinates[2 * i] = to_float(x);
        coordinates[2 * i + 1] = to_float(top_row - y);
    }
}

}  // namespace spinmap
