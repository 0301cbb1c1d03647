// matrix_count_outside: the valid points a rotation carries off a frame,
// against the forward formula applied to every point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <spinmap/transform/transform.h>
#include "transform_test_support.h"

namespace spinmap::test {
namespace {

// Every valid point of window w turned by the formula written out, the angle
// brought into (-180, 180] first.
int32_t reference_count_outside(const height_matrix& m, const window& w, const window& frame, double px, double py,
                                double angle) {
    double r = std::fmod(angle, 360);
    if (r == 0) return 0;
    r = r <= -180 ? r + 360 : r > 180 ? r - 360 : r;
    const double s = rounded_sin(r / 57.2957795131), c = rounded_cos(r / 57.2957795131);
    int32_t count = 0;
    for (int Y = w.y; Y < w.y + w.height; ++Y) {
        for (int X = w.x; X < w.x + w.width; ++X) {
            if (!is_valid_height(m.matrix[(Y - m.window.y) * m.window.width + (X - m.window.x)])) continue;
            const double x = (px + c * (X - px)) + s * (Y - py);
            const double y = (py - s * (X - px)) + c * (Y - py);
            if (x < frame.x - 0.5 || x >= frame.x + frame.width - 0.5 || y < frame.y - 0.5 ||
                y >= frame.y + frame.height - 0.5) {
                ++count;
            }
        }
    }
    return count;
}

TEST(CountOutside, SmallCasesByHand) {
    // Columns 0..2 of rows 0..1 (6 points) in a 10 x 10 frame.
    const owned_matrix m({0, 0, 3, 2}, coordinate_raster({0, 0, 3, 2}));
    const window frame{0, 0, 10, 10};
    const struct {
        const char* name;
        double px, py, angle;
        int32_t count;
    } cases[] = {
        {"a quarter turn about (0, 0) lifts columns 1 and 2 above row 0", 0, 0, 90, 4},
        {"the same turn about (2, 2) keeps all", 2, 2, 90, 0},
        {"-270 is the same turn", 0, 0, -270, 4},
        {"a whole number of turns keeps all", -100, -100, 720, 0},
        // Half turns about a pivot on row 0: row 1 goes above the frame, and
        // row 0 is turned exactly.
        {"a half turn about (0.25, 0) sends column 1 onto the left edge, inside", 0.25, 0, 180, 4},
        {"a half turn about (5.25, 0) sends column 1 onto the right edge, outside", 5.25, 0, 180, 5},
        {"a pivot far away", 1e6, 1e6, 30, 6},
    };
    for (const auto& c : cases) {
        int32_t count = -1, valid = -1;
        ASSERT_EQ(matrix_count_outside(&m.m, nullptr, frame, c.px, c.py, c.angle, &count, &valid), 0) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        EXPECT_EQ(valid, c.count > 0 ? 6 : 0) << c.name;
    }
}

TEST(CountOutside, EqualsThePointByPointCountOnRandomFramesAnglesAndPivots) {
    std::mt19937 gen(27);
    const auto uniform = [&gen](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    const double angles[] = {90, -90, 180, 270, 45, 30, -135, 1e-9, 359.9};
    int counted = 0, all_kept = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        // Each trial's rows in bands on one of the forced thread counts.
        const forced_threads forced(FORCED_THREAD_COUNTS[trial % std::size(FORCED_THREAD_COUNTS)]);
        const window frame{int16_t(uniform(-5, 5)), int16_t(uniform(-5, 5)), int16_t(uniform(1, 40)),
                           int16_t(uniform(1, 30))};
        // Every other matrix lies in the middle of the frame, its pivot
        // near the matrix's centre, so that often all its points stay.
        const bool centred = trial % 2 == 1;
        const window mw = centred ? window{int16_t(frame.x + frame.width / 4), int16_t(frame.y + frame.height / 4),
                                           int16_t(std::max(1, frame.width / 2)),
                                           int16_t(std::max(1, frame.height / 2))}
                                  : window{int16_t(uniform(-10, 30)), int16_t(uniform(-10, 20)),
                                           int16_t(uniform(1, 30)), int16_t(uniform(1, 25))};
        const owned_matrix m(mw, random_heights(mw, uint32_t(trial), uniform(0, 4)));
        // Pivots on the quarter-pixel grid put turned points exactly on the
        // frame's edges; some are anywhere.
        const bool anywhere = trial % 5 == 0;
        const auto coordinate = [&](int from, int extent) {
            if (anywhere) return std::uniform_real_distribution<double>(-60, 90)(gen);
            return centred ? (4 * from + 2 * (extent - 1) + uniform(-2, 2)) / 4.0 : uniform(-200, 320) / 4.0;
        };
        const double px = coordinate(mw.x, mw.width), py = coordinate(mw.y, mw.height);
        const double angle = trial % 3 == 0 ? std::uniform_real_distribution<double>(-720, 720)(gen)
                                            : angles[trial % std::size(angles)];
        // The whole matrix, or a part of it.
        window w = mw;
        if (trial % 4 >= 2) {
            w.x = int16_t(mw.x + uniform(0, mw.width - 1));
            w.y = int16_t(mw.y + uniform(0, mw.height - 1));
            w.width = int16_t(uniform(1, mw.x + mw.width - w.x));
            w.height = int16_t(uniform(1, mw.y + mw.height - w.y));
        }
        int32_t count = -1, valid = -1;
        ASSERT_EQ(matrix_count_outside(&m.m, &w, frame, px, py, angle, &count, &valid), 0);
        const int32_t expected = reference_count_outside(m.m, w, frame, px, py, angle);
        int32_t all_valid = 0;
        matrix_count_valid(&m.m, &w, &all_valid);
        ASSERT_EQ(count, expected) << "trial " << trial << ": frame " << frame.x << "," << frame.y << ","
                                   << frame.width << "," << frame.height << " window " << w.x << "," << w.y << ","
                                   << w.width << "," << w.height << " pivot " << px << "," << py << " angle "
                                   << angle;
        // The total comes with a loss only.
        ASSERT_EQ(valid, expected > 0 ? all_valid : 0) << "trial " << trial;
        counted += expected > 0;
        all_kept += expected == 0 && all_valid > 0;
    }
    // Both outcomes are well represented.
    EXPECT_GT(counted, 1000);
    EXPECT_GT(all_kept, 500);
}

TEST(CountOutside, TermsThatAreNotFiniteAndRefusedArguments) {
    const owned_matrix m({0, 0, 4, 3}, coordinate_raster({0, 0, 4, 3}));
    const window frame{0, 0, 8, 8};
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    for (const double p : {inf, -inf, nan, 1e308, -1e308}) {
        for (const double angle : {30.0, 90.0, nan}) {
            int32_t count = -1, valid = -1;
            ASSERT_EQ(matrix_count_outside(&m.m, nullptr, frame, p, 1, angle, &count, &valid), 0);
            EXPECT_EQ(count, reference_count_outside(m.m, m.m.window, frame, p, 1, angle)) << p << " " << angle;
        }
    }
    int32_t count = -1, valid = -1;
    const window beyond{1, 0, 4, 3};
    EXPECT_EQ(matrix_count_outside(&m.m, &beyond, frame, 0, 0, 30, &count, &valid), ERR_IMPROPER_WINDOW);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(valid, 0);
    height_matrix empty{};
    EXPECT_EQ(matrix_count_outside(&empty, nullptr, frame, 0, 0, 30, &count, &valid), ERR_INVALID_PARAM);
}

}  // namespace
}  // namespace spinmap::test
