// Rotation geometry: rotate_point, wn_rotate and matrix_rotate's choice of
// pivot, output window and path.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <spinmap/transform/transform.h>
#include "transform_test_support.h"

namespace spinmap::test {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double DEG = 57.2957795131;

bool same_window(const window& a, const window& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

TEST(RotatePoint, TurnsCounterClockwiseInAYUpFrame) {
    const struct {
        double x, y, cx, cy, degrees, to_x, to_y;
    } cases[] = {
        {1, 0, 0, 0, 90, 0, 1},
        {3, 2, 1, 1, 180, -1, 0},
        {5, 5, 5, 5, 33, 5, 5},
        {2, 0, 0, 0, -90, 0, -2},
    };
    for (const auto& c : cases) {
        double x = c.x, y = c.y;
        rotate_point(&x, &y, c.cx, c.cy, c.degrees / DEG);
        EXPECT_NEAR(x, c.to_x, 1e-9) << c.degrees;
        EXPECT_NEAR(y, c.to_y, 1e-9) << c.degrees;
    }
}

TEST(WnRotate, GivesTheBoundingWindowOfTheTurnedCorners) {
    const struct {
        const char* name;
        window w;
        double px, py, degrees;
        window expected;
    } cases[] = {
        {"row about (1, 1) by 90 stands in column 0", {0, 0, 3, 1}, 1, 1, 90, {0, 0, 1, 3}},
        {"row about (1, 1) by -90 stands in column 2", {0, 0, 3, 1}, 1, 1, -90, {2, 0, 1, 3}},
        {"half turn about the centre", {0, 0, 4, 2}, 1.5, 0.5, 180, {0, 0, 4, 2}},
        {"45 degrees lifts the right end (rows grow downward)", {0, 0, 5, 1}, 0, 0, 45, {0, -3, 4, 4}},
        {"no turn", {10, 20, 5, 3}, 0, 0, 0, {10, 20, 5, 3}},
        {"a pivot far away cannot give a 16-bit window", {0, 0, 5, 5}, 1e6, 0, 90, {0, 0, 0, 0}},
        {"a pivot beyond every integer", {0, 0, 5, 5}, 1e300, -1e300, 30, {0, 0, 0, 0}},
        {"a NaN pivot", {0, 0, 5, 5}, NaN, 0, 30, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        window w = c.w;
        wn_rotate(&w, c.px, c.py, c.degrees / DEG);
        EXPECT_TRUE(same_window(w, c.expected))
            << c.name << ": " << w.x << ", " << w.y << ", " << w.width << ", " << w.height;
    }
}

TEST(MatrixRotate, WholeTurnsLeaveMatrixWindowAndPivotUntouched) {
    const window own{2, 3, 4, 2}, frame{0, 0, 10, 10};
    for (const double angle : {0.0, -0.0, 360.0, -720.0, 1080.0}) {
        owned_matrix m(own, coordinate_raster(own));
        const int32_t* array = m.m.matrix;
        double px = 5.25, py = 6;
        EXPECT_EQ(matrix_rotate(&m.m, &frame, &px, &py, angle, ROT_WIN_GIVEN | ROT_PIVOT_WINDOW_CENTER), 0);
        EXPECT_EQ(m.m.matrix, array) << angle;
        EXPECT_TRUE(same_window(m.m.window, own)) << angle;
        EXPECT_EQ(m.values(), coordinate_raster(own)) << angle;
        EXPECT_EQ(px, 5.25);
        EXPECT_EQ(py, 6);
    }
}

TEST(MatrixRotate, NormalisesTheAngleIntoAHalfOpenTurn) {
    const window own{1, 2, 4, 3}, frame{0, 0, 8, 8};
    const struct {
        double angle;
        int turn;
    } cases[] = {{270, -90}, {-90, -90}, {-180, 180}, {540, 180}, {180, 180}, {-270, 90}, {450, 90}, {-630, 90}};
    for (const auto& c : cases) {
        owned_matrix m(own, coordinate_raster(own));
        owned_matrix expected(frame, NV);
        ASSERT_EQ(matrix_rotate_exact(&m.m, &expected.m, 3, 4, c.turn), 0);
        double px = 3, py = 4;
        ASSERT_EQ(matrix_rotate(&m.m, &frame, &px, &py, c.angle, ROT_WIN_GIVEN), 0) << c.angle;
        EXPECT_TRUE(same_window(m.m.window, frame)) << c.angle;
        EXPECT_EQ(m.values(), expected.values()) << c.angle;
    }
}

TEST(MatrixRotate, FailuresLeaveMatrixAndPivotAsTheyWere) {
    const window own{2, 3, 4, 2};
    const window frame{0, 0, 10, 10}, zero_width{0, 0, 0, 10}, negative{0, 0, -3, 10}, beyond_walk{32000, 0, 800, 1};
    const window far_away{200, 200, 5, 5};
    const struct {
        const char* name;
        const window* out;
        bool pivot_y_present;
        double pivot;
        double angle;
        int mode;
        int error;
    } cases[] = {
        {"ROT_NO_INTERP with 45 degrees", &frame, true, 4, 45, ROT_NO_INTERP | ROT_WIN_GIVEN, ERR_INVALID_PARAM},
        {"ROT_NO_INTERP with a NaN angle", &frame, true, 4, NaN, ROT_NO_INTERP, ERR_INVALID_PARAM},
        {"zero-width output window", &zero_width, true, 4, 90, ROT_WIN_GIVEN, ERR_PARAM_OUT_OF_RANGE},
        {"negative-width output window", &negative, true, 4, 30, ROT_WIN_GIVEN, ERR_PARAM_OUT_OF_RANGE},
        {"output window beyond the 16-bit walk", &beyond_walk, true, 4, 30, ROT_WIN_GIVEN, ERR_IMPROPER_WINDOW},
        {"given pivot with one argument absent", &frame, false, 4, 30, ROT_WIN_GIVEN, ERR_INVALID_PARAM},
        {"clipped onto a disjoint window", &far_away, true, 4, 90, ROT_WIN_CLIPPED, ERR_WINDOWS_DISJOINT},
        {"clipped about a pivot at 1e30", &frame, true, 1e30, 90, ROT_WIN_CLIPPED, ERR_WINDOWS_DISJOINT},
        {"clipped about a NaN pivot", &frame, true, NaN, 30, ROT_WIN_CLIPPED, ERR_WINDOWS_DISJOINT},
        {"bounding window of a NaN angle", &frame, true, 4, NaN, ROT_WIN_BOUNDING, ERR_PARAM_OUT_OF_RANGE},
    };
    for (const auto& c : cases) {
        owned_matrix m(own, coordinate_raster(own));
        const int32_t* array = m.m.matrix;
        double px = c.pivot, py = 4;
        EXPECT_EQ(matrix_rotate(&m.m, c.out, &px, c.pivot_y_present ? &py : nullptr, c.angle, c.mode), c.error)
            << c.name;
        EXPECT_EQ(m.m.matrix, array) << c.name;
        EXPECT_TRUE(same_window(m.m.window, own)) << c.name;
        EXPECT_EQ(m.values(), coordinate_raster(own)) << c.name;
        EXPECT_TRUE(px == c.pivot || (std::isnan(px) && std::isnan(c.pivot))) << c.name;
        EXPECT_EQ(py, 4) << c.name;
    }
}

TEST(MatrixRotate, RefusesAnUnusableSource) {
    owned_matrix m({0, 0, 3, 1}, {11, 12, 13});
    height_matrix no_array = m.m, short_array = m.m, negative = m.m;
    no_array.matrix = nullptr;
    short_array.size = 2;
    negative.window.height = -1;
    double px = 1, py = 1;
    EXPECT_EQ(matrix_rotate(nullptr, nullptr, &px, &py, 90, ROT_WIN_GIVEN), ERR_INVALID_PARAM);
    for (height_matrix* bad : {&no_array, &short_array, &negative})
        EXPECT_EQ(matrix_rotate(bad, nullptr, &px, &py, 90, ROT_WIN_GIVEN), ERR_INVALID_PARAM);
}

TEST(MatrixRotate, ReportsAllocationFailureOnBothPathsAndReleasesEverything) {
    const window own{2, 3, 4, 2}, frame{0, 0, 10, 10};
    for (const double angle : {90.0, 45.0}) {
        for (const int successful_calls : {0, 1, 2}) {  // result array, source table, result table
            owned_matrix m(own, coordinate_raster(own));
            const int32_t* array = m.m.matrix;
            double px = 4, py = 4;
            {
                allocation_hooks scope(allocation_hooks::failing_from{successful_calls + 1});
                EXPECT_EQ(matrix_rotate(&m.m, &frame, &px, &py, angle, ROT_WIN_GIVEN), ERR_NO_MEM);
                EXPECT_EQ(scope.log().live.size(), 0u);
            }
            EXPECT_EQ(m.m.matrix, array);
            EXPECT_TRUE(same_window(m.m.window, own));
            EXPECT_EQ(m.values(), coordinate_raster(own));
        }
    }
}

// Each window mode, checked against the exact kernel on the window and about
// the pivot that the mode should give.
TEST(MatrixRotate, SettlesTheOutputWindowByTheWindowField) {
    const window own{2, 3, 4, 2}, frame{0, 0, 10, 10}, small{0, 0, 4, 5}, tiny{0, 0, 2, 2};
    const struct {
        const char* name;
        int mode;
        const window* out;
        window expected;
        double px, py;  // pivot used
        bool origin_zero;
    } cases[] = {
        {"given window", ROT_WIN_GIVEN, &frame, frame, 4, 4, false},
        {"field 0 acts as given", 0, &frame, frame, 4, 4, false},
        {"given, none: the matrix's own window", ROT_WIN_GIVEN, nullptr, own, 4, 4, false},
        {"clipped within the frame", ROT_WIN_CLIPPED, &frame, {3, 3, 2, 4}, 4, 4, false},
        {"clipped to a smaller window", ROT_WIN_CLIPPED, &small, {3, 3, 1, 2}, 4, 4, false},
        {"clipped, none: the own window", ROT_WIN_CLIPPED, nullptr, {3, 3, 2, 2}, 4, 4, false},
        {"bounding about the window centre", ROT_WIN_BOUNDING, &frame, {3, 2, 2, 4}, 3.5, 3.5, false},
        {"bounding, fields 5 to 7 alike", 7, nullptr, {3, 2, 2, 4}, 3.5, 3.5, false},
        {"bounding narrowed to the given size, centred", ROT_WIN_BOUNDING, &tiny, {3, 3, 2, 2}, 3.5, 3.5, false},
        {"bounding with origin (0, 0)", ROT_WIN_BOUNDING_ORIGIN, &frame, {3, 2, 2, 4}, 3.5, 3.5, true},
    };
    for (const auto& c : cases) {
        owned_matrix m(own, coordinate_raster(own));
        owned_matrix expected(c.expected, NV);
        ASSERT_EQ(matrix_rotate_exact(&m.m, &expected.m, c.px, c.py, 90), 0);
        double px = 4, py = 4;
        ASSERT_EQ(matrix_rotate(&m.m, c.out, &px, &py, 90, c.mode), 0) << c.name;
        const window w = c.expected;
        const window placed = c.origin_zero ? window{0, 0, w.width, w.height} : w;
        EXPECT_TRUE(same_window(m.m.window, placed)) << c.name;
        EXPECT_EQ(m.values(), expected.values()) << c.name;
        EXPECT_EQ(px, c.px) << c.name;
        EXPECT_EQ(py, c.py) << c.name;
    }
}

TEST(MatrixRotate, ComputesAndAdjustsPivotsByThePivotField) {
    const struct {
        const char* name;
        window w;
        std::vector<int32_t> values;
        int mode;
        double px, py;  // expected pivot
    } cases[] = {
        {"valid centre (2.5, 3) raised to (3, 3)", {2, 3, 4, 2}, {1, 2, NV, NV, NV, NV, NV, NV},
         ROT_PIVOT_VALID_CENTER, 3, 3},
        {"valid centre kept under ROT_INTERP", {2, 3, 4, 2}, {1, 2, NV, NV, NV, NV, NV, NV},
         ROT_PIVOT_VALID_CENTER | ROT_INTERP, 2.5, 3},
        {"window centre (3.5, 4) raised to (4, 4)", {2, 3, 4, 3}, std::vector<int32_t>(12, 1),
         ROT_PIVOT_WINDOW_CENTER, 4, 4},
        {"window centre (3, 3.5) lowered to (2.5, 3.5)", {2, 3, 3, 2}, std::vector<int32_t>(6, 1),
         ROT_PIVOT_WINDOW_CENTER, 2.5, 3.5},
        {"window centre (-2.5, 0.5) is already both half", {-4, 0, 4, 2}, std::vector<int32_t>(8, 1),
         ROT_PIVOT_WINDOW_CENTER, -2.5, 0.5},
        {"window centre (-2, 0.5) lowered to (-2.5, 0.5)", {-4, 0, 5, 2}, std::vector<int32_t>(10, 1),
         ROT_PIVOT_WINDOW_CENTER, -2.5, 0.5},
        {"field 0x18 reads the given pivot, never adjusted", {2, 3, 4, 2}, std::vector<int32_t>(8, 1), 0x18, 7,
         7.5},
    };
    for (const auto& c : cases) {
        owned_matrix m(c.w, c.values);
        double px = 7, py = 7.5;
        ASSERT_EQ(matrix_rotate(&m.m, nullptr, &px, &py, 90, c.mode), 0) << c.name;
        EXPECT_EQ(px, c.px) << c.name;
        EXPECT_EQ(py, c.py) << c.name;
    }
    owned_matrix none_valid({0, 0, 3, 3}, NV);
    double px = 1, py = 1;
    EXPECT_EQ(matrix_rotate(&none_valid.m, nullptr, &px, &py, 90, ROT_PIVOT_VALID_CENTER), ERR_ALL_BAD_DATA);
    EXPECT_EQ(px, 1);
}

TEST(MatrixRotate, MovesValuesForTurnsAboutWholeOrHalfPivots) {
    const window own{3, 5, 21, 17}, frame{0, 0, 40, 40};
    const struct {
        double px, py, angle;
    } cases[] = {{10, 20, 90}, {10, 20, -90}, {10, 20, 180}, {10.5, 20.5, 90}, {10.5, 20.5, 180}, {10, 20.5, 180}};
    for (const auto& c : cases) {
        owned_matrix m(own, random_heights(own, 7, 6));
        owned_matrix expected(frame, NV);
        ASSERT_EQ(matrix_rotate_exact(&m.m, &expected.m, c.px, c.py, int(c.angle)), 0);
        double px = c.px, py = c.py;
        ASSERT_EQ(matrix_rotate(&m.m, &frame, &px, &py, c.angle, ROT_WIN_GIVEN), 0);
        EXPECT_EQ(m.values(), expected.values()) << c.px << ", " << c.py << " by " << c.angle;
    }
}

// The result is made invalid only where no value lands: output windows that
// hold the turned source, cut it on any side, or miss it altogether.
TEST(MatrixRotate, MovedValuesAndTheInvalidRestMatchThePlainReference) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 gen(seed);
        const window own{int16_t(int(gen() % 60) - 30), int16_t(int(gen() % 60) - 30), int16_t(1 + gen() % 50),
                         int16_t(1 + gen() % 50)};
        const window frame{int16_t(int(gen() % 60) - 30), int16_t(int(gen() % 60) - 30), int16_t(1 + gen() % 70),
                           int16_t(1 + gen() % 70)};
        const double half = (gen() % 2) * 0.5;
        const double px = double(int(gen() % 80) - 40) + half, py = double(int(gen() % 80) - 40) + half;
        const double angle = std::array{90, -90, 180, 270}[gen() % 4];
        owned_matrix m(own, random_heights(own, seed, 6));
        owned_matrix expected(frame, NV);
        reference_rotate_exact(m.m, expected.m, px, py, angle == 270 ? -90 : int(angle));
        double x = px, y = py;
        ASSERT_EQ(matrix_rotate(&m.m, &frame, &x, &y, angle, ROT_NO_INTERP | ROT_WIN_GIVEN), 0);
        EXPECT_EQ(m.values(), expected.values()) << "seed " << seed;
    }
}

// Quarter turns of square windows and half turns of any window about their
// centre, onto their own window: done in the matrix's own array, with the
// plain reference's values; sides odd and even, around the tiles of the walk,
// on each forced thread count (several rows of tiles from 131 and 520 on).
TEST(MatrixRotate, TurnsOfAWindowOntoItselfKeepTheArrayAndMatchThePlainReference) {
    const window windows[] = {{0, 0, 1, 1},     {-3, 7, 2, 2},  {5, -4, 3, 3},    {0, 0, 4, 4},
                              {7, 3, 12, 12},   {-1, -1, 31, 31}, {2, 2, 64, 64}, {0, 0, 65, 65},
                              {3, 1, 5, 2},     {-6, 0, 4, 7},  {0, 0, 132, 132}, {1, 2, 136, 136},
                              {0, 0, 131, 131}, {0, 0, 520, 520}};
    uint32_t seed = 0;
    for (const window& own : windows) {
        for (const int turn : {90, -90, 180}) {
            for (const int threads : FORCED_THREAD_COUNTS) {
                const forced_threads forced(threads);
                if (turn != 180 && own.width != own.height) continue;
                double px = 0, py = 0;
                wn_center(own, &px, &py);
                owned_matrix m(own, random_heights(own, ++seed, 5));
                owned_matrix expected(own, NV);
                reference_rotate_exact(m.m, expected.m, px, py, turn);
                const int32_t* const array = m.m.matrix;
                ASSERT_EQ(matrix_rotate(&m.m, &own, &px, &py, turn, ROT_NO_INTERP | ROT_WIN_GIVEN), 0);
                EXPECT_EQ(m.m.matrix, array) << own.width << " x " << own.height << ", turn " << turn;
                EXPECT_TRUE(same_window(m.m.window, own));
                EXPECT_EQ(m.values(), expected.values())
                    << own.width << " x " << own.height << ", turn " << turn << ", " << threads << " threads";
            }
        }
    }
}

TEST(MatrixRotate, Mode65QuarterTurnAboutAMixedPivotTakesFourPointMeans) {
    const window own{0, 0, 40, 40};
    const std::vector<int32_t> source = random_heights(own, 11, 15);
    owned_matrix m(own, source);
    double px = 10, py = 20.5;
    ASSERT_EQ(matrix_rotate(&m.m, &own, &px, &py, 90, ROT_INTERP | ROT_WIN_GIVEN), 0);
    // Result point (X, Y) maps back to (30.5 - Y, X + 10.5): the centre of a 2 x 2 block.
    for (int Y = 0; Y < 40; ++Y) {
        for (int X = 0; X < 40; ++X) {
            const int32_t got = m.at(X, Y);
            if (Y > 30 || X > 28) {
                EXPECT_EQ(got, NV) << X << ", " << Y;
                continue;
            }
            const int x0 = 30 - Y, y0 = X + 10;
            const int32_t f[4] = {source[y0 * 40 + x0], source[y0 * 40 + x0 + 1], source[(y0 + 1) * 40 + x0],
                                  source[(y0 + 1) * 40 + x0 + 1]};
            if (!is_valid_height(f[0]) || !is_valid_height(f[1]) || !is_valid_height(f[2]) || !is_valid_height(f[3])) {
                EXPECT_EQ(got, NV) << X << ", " << Y;
                continue;
            }
            EXPECT_NEAR(got, (double(f[0]) + f[1] + f[2] + f[3]) / 4, 1.0) << X << ", " << Y;
        }
    }
    EXPECT_EQ(px, 10);
    EXPECT_EQ(py, 20.5);
}

TEST(MatrixRotate, HalfTurnAboutAQuarterPixelPivotInterpolatesInMode1) {
    const window own{0, 0, 30, 45};
    std::vector<int32_t> source;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 30; ++x) source.push_back(10 * x + 10000 * y);
    owned_matrix m(own, source);
    double px = 10.25, py = 20;
    ASSERT_EQ(matrix_rotate(&m.m, &own, &px, &py, 180, ROT_WIN_GIVEN), 0);
    // (X, Y) maps back to (20.5 - X, 40 - Y): halfway between two columns.
    for (int Y = 0; Y < 40; ++Y) {
        for (int X = 0; X < 30; ++X) {
            const int32_t expected = X > 20 ? NV : 10 * (20 - X) + 5 + 10000 * (40 - Y);
            EXPECT_EQ(m.at(X, Y), expected) << X << ", " << Y;
        }
    }
}

// The tool's plans carried out as matrix_rotate carries out the same choice
// given as a mode; plans that rotate nothing, or that no rule makes, change
// nothing.
TEST(MatrixRotateByPlan, CarriesOutThePlanWithoutPlanningAgain) {
    const window own{2, 3, 6, 5}, frame{0, 0, 12, 12};
    const struct {
        double angle, px, py;
        rotation_choice choice;
        int mode;  // what matrix_rotate is given for the same rotation
    } same_as_mode[] = {
        {90, 4, 5, rotation_choice::automatic, ROT_WIN_GIVEN},
        {-180, 4.5, 5, rotation_choice::automatic, ROT_WIN_GIVEN},
        {90, 4, 5.5, rotation_choice::automatic, ROT_INTERP | ROT_WIN_GIVEN},
        {33, 4.25, 5, rotation_choice::automatic, ROT_WIN_GIVEN},
        {270, 4.5, 5, rotation_choice::no_interp, ROT_NO_INTERP | ROT_WIN_GIVEN},  // pivot raised to (5, 5)
    };
    for (const auto& c : same_as_mode) {
        const rotation_plan plan = plan_rotation({c.angle, c.px, c.py, c.choice, rotation_rule::tool, false});
        owned_matrix planned(own, coordinate_raster(own)), expected(own, coordinate_raster(own));
        double px = plan.pivot_x, py = plan.pivot_y;
        ASSERT_EQ(matrix_rotate(&expected.m, &frame, &px, &py, c.angle, c.mode), 0) << c.angle;
        ASSERT_EQ(matrix_rotate_by_plan(&planned.m, frame, plan), 0) << c.angle;
        EXPECT_TRUE(same_window(planned.m.window, frame)) << c.angle;
        EXPECT_EQ(planned.values(), expected.values()) << c.angle;
    }

    const rotation_plan move{rotation_method::move_values, rotation_refusal::none, 4, 5, false, 90};
    rotation_plan off_grid = move, no_quarter = move, refused = move, whole = move;
    off_grid.turn = 180;  // about (4.75, 5), which would turn the window onto itself
    off_grid.pivot_x = 4.75;
    no_quarter.turn = 45;
    refused.method = rotation_method::refused;
    whole.method = rotation_method::unchanged;
    const struct {
        const char* name;
        const rotation_plan& plan;
        window out;
        int error;
    } unchanged[] = {
        {"a whole number of turns", whole, frame, 0},
        {"a refusal", refused, frame, ERR_INVALID_PARAM},
        {"values moved about a pivot off the half-pixel grid", off_grid, own, ERR_INVALID_PARAM},
        {"values moved by 45 degrees", no_quarter, frame, ERR_INVALID_PARAM},
        {"an output window without elements", move, {0, 0, 12, 0}, ERR_PARAM_OUT_OF_RANGE},
        {"an output window beyond the 16-bit walk", move, {32000, 0, 800, 1}, ERR_IMPROPER_WINDOW},
    };
    for (const auto& c : unchanged) {
        owned_matrix m(own, coordinate_raster(own));
        const int32_t* array = m.m.matrix;
        EXPECT_EQ(matrix_rotate_by_plan(&m.m, c.out, c.plan), c.error) << c.name;
        EXPECT_EQ(m.m.matrix, array) << c.name;
        EXPECT_TRUE(same_window(m.m.window, own)) << c.name;
        EXPECT_EQ(m.values(), coordinate_raster(own)) << c.name;
    }
    EXPECT_EQ(matrix_rotate_by_plan(nullptr, frame, move), ERR_INVALID_PARAM);
}

TEST(MatrixRotate, HopelessRotationsSucceedWithAnAllInvalidResult) {
    const window own{2, 3, 4, 2}, frame{0, 0, 10, 10};
    const struct {
        const char* name;
        double pivot, angle;
    } cases[] = {
        {"NaN angle", 4, NaN},        {"infinite angle", 4, INFINITY}, {"pivot 1e30, moved", 1e30, 90},
        {"pivot -1e30, moved", -1e30, 180}, {"pivot 1e30, interpolated", 1e30, 45}, {"NaN pivot", NaN, 90},
    };
    for (const auto& c : cases) {
        owned_matrix m(own, coordinate_raster(own));
        double px = c.pivot, py = c.pivot;
        EXPECT_EQ(matrix_rotate(&m.m, &frame, &px, &py, c.angle, ROT_WIN_GIVEN), 0) << c.name;
        EXPECT_TRUE(same_window(m.m.window, frame)) << c.name;
        EXPECT_EQ(m.values(), std::vector<int32_t>(100, NV)) << c.name;
    }
}

// ---- Rotated rows, a band at a time -----------------------------------------

// Heights x + 1000 y inside the ellipse that fills the window, every
// seventh point of it a dropout, invalid outside: the valid points' window
// is the window, and its edges hold few valid points. With a gap, the
// middle third of the rows is invalid too.
std::vector<int32_t> ellipse_heights(window w, bool gap = false) {
    std::vector<int32_t> v = coordinate_raster(w);
    const double cx = (w.width - 1) / 2.0, cy = (w.height - 1) / 2.0;
    for (int i = 0; i < w.height; ++i) {
        for (int j = 0; j < w.width; ++j) {
            const double u = (j - cx) / (cx + 0.5), t = (i - cy) / (cy + 0.5);
            const bool in_gap = gap && 3 * i >= w.height && 3 * i < 2 * w.height;
            if (u * u + t * t > 1 || (i * w.width + j) % 7 == 3 || in_gap) v[size_t(i) * w.width + j] = NV;
        }
    }
    return v;
}

// The output window found before rotating (where the input window lands,
// or by the search of the resampled frame) and the rows made a band at a
// time on it and on the whole frame, against matrix_rotate_by_plan onto the
// frame and the valid window of its result; on frames whose bands no thread
// count divides evenly.
TEST(RotatedRows, MatchTheRotatedFrameAndItsValidWindowBitForBit) {
    const window frame{0, 0, 43, 38};
    const struct {
        const char* name;
        window source;
        double angle, px, py;
        bool window_before;  // the output window is found without rotating the frame
        bool gap = false;     // no valid point in the middle third of the rows
    } cases[] = {
        {"quarter turn about the centre", {6, 9, 29, 21}, 90, 20, 19, true},
        {"quarter turn back about a half-pixel pivot", {6, 9, 29, 21}, -90, 19.5, 18.5, true},
        {"half turn", {6, 9, 29, 21}, 180, 20.5, 19, true},
        {"half turn of the whole frame", {0, 0, 43, 38}, 180, 21, 18.5, true},
        {"quarter turn losing points off the bottom", {6, 9, 29, 21}, -90, 8, 27, false},
        {"quarter turn losing the lowest rows off the right", {6, 9, 29, 21}, 90, 28, 12, false},
        {"quarter turn carrying everything away", {6, 9, 29, 21}, 90, 300, 2, false},
        {"30 degrees about the centre", {6, 9, 29, 21}, 30, 20, 19, true},
        {"-33.3 degrees about a quarter pixel, losing points", {0, 0, 43, 38}, -33.3, 12.25, 30.75, true},
        {"123.456 degrees", {3, 2, 37, 33}, 123.456, 21.5, 18, true},
        {"a quarter turn about a pivot off the half-pixel grid", {6, 9, 29, 21}, 90, 20.25, 19, true},
        {"interpolated far away: nothing valid", {6, 9, 29, 21}, 45, 500, 500, false},
        {"3 degrees, nothing valid in the middle row", {6, 8, 29, 27}, 3, 20, 21, true, true},
        {"half turn, nothing valid in the middle rows", {6, 8, 29, 27}, 180, 20, 21, true, true},
    };
    for (const auto& c : cases) {
        owned_matrix source(c.source, ellipse_heights(c.source, c.gap));
        window valid{};
        ASSERT_EQ(matrix_valid_window(&source.m, nullptr, &valid), 0) << c.name;
        const rotation_plan plan = plan_rotation({c.angle, c.px, c.py, rotation_choice::automatic,
                                                  rotation_rule::tool, false});
        owned_matrix rotated(c.source, ellipse_heights(c.source, c.gap));
        ASSERT_EQ(matrix_rotate_by_plan(&rotated.m, frame, plan), 0) << c.name;
        window expected{};
        const bool any_valid = matrix_valid_window(&rotated.m, nullptr, &expected) == 0;
        for (const int threads : FORCED_THREAD_COUNTS) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
            const forced_threads forced(threads);
            window found{};
            bool found_before = false;
            if (plan.method == rotation_method::move_values) {
                found_before = moved_part_window(source.m, valid, frame, plan, &found);
            } else {
                const int code = resampled_valid_window(source.m, valid, frame, plan, &found);
                EXPECT_EQ(code, any_valid ? 0 : ERR_ALL_BAD_DATA);
                found_before = code == 0;
            }
            EXPECT_EQ(found_before, c.window_before);
            if (found_before) {
                EXPECT_TRUE(same_window(found, expected));
            }
            for (const window& out : {expected, frame}) {
                if (!any_valid) continue;
                rotated_rows rows;
                ASSERT_EQ(rows.prepare(source.m, plan, out), 0);
                // Rows three elements apart beyond their width, in bands of
                // 1, 2, 3, 4, 1, ... rows; the gaps keep the marker 1.
                const std::ptrdiff_t pitch = out.width + 3;
                std::vector<int32_t> made(size_t(pitch) * out.height, 1);
                for (int first = 0, count = 1; first < out.height; first += count, count = count % 4 + 1) {
                    count = std::min(count, out.height - first);
                    ASSERT_EQ(rows.make(first, count, made.data() + first * pitch, pitch), 0);
                }
                for (int y = out.y; y < out.y + out.height; ++y) {
                    for (int x = out.x; x < out.x + out.width + 3; ++x) {
                        const int32_t expected_value = x < out.x + out.width ? rotated.at(x, y) : 1;
                        ASSERT_EQ(made[(y - out.y) * pitch + (x - out.x)], expected_value)
                            << "at (" << x << ", " << y << ")";
                    }
                }
            }
        }
        EXPECT_EQ(source.values(), ellipse_heights(c.source, c.gap)) << c.name;
    }
}

// The plain rotation keeps the matrix's array exactly where the predicate
// says it does.
TEST(RotatesWithinItsArray, WhereMatrixRotateByPlanKeepsTheArray) {
    const rotation_plan quarter{rotation_method::move_values, rotation_refusal::none, 3.5, 3.5, false, 90};
    rotation_plan half = quarter, about_corner = quarter, interpolated = quarter;
    half.turn = 180;
    about_corner.pivot_x = about_corner.pivot_y = 0;
    interpolated.method = rotation_method::interpolate;
    const struct {
        const char* name;
        window own, out;
        const rotation_plan& plan;
        bool within;
    } cases[] = {
        {"quarter turn of a square about its centre", {0, 0, 8, 8}, {0, 0, 8, 8}, quarter, true},
        {"half turn of an oblong about its centre", {0, 2, 8, 4}, {0, 2, 8, 4}, half, true},
        {"quarter turn of an oblong", {0, 2, 8, 4}, {0, 2, 8, 4}, quarter, false},
        {"onto another window", {0, 0, 8, 8}, {0, 0, 9, 8}, quarter, false},
        {"about a corner", {0, 0, 8, 8}, {0, 0, 8, 8}, about_corner, false},
        {"interpolated", {0, 0, 8, 8}, {0, 0, 8, 8}, interpolated, false},
    };
    for (const auto& c : cases) {
        owned_matrix m(c.own, coordinate_raster(c.own));
        EXPECT_EQ(rotates_within_its_array(m.m, c.out, c.plan), c.within) << c.name;
        const int32_t* const array = m.m.matrix;
        ASSERT_EQ(matrix_rotate_by_plan(&m.m, c.out, c.plan), 0) << c.name;
        EXPECT_EQ(m.m.matrix == array, c.within) << c.name;
    }
}

TEST(RotatedRows, RefuseWhatTheyCannotMake) {
    const window own{0, 0, 6, 5};
    owned_matrix source(own, coordinate_raster(own));
    const rotation_plan moved{rotation_method::move_values, rotation_refusal::none, 2.5, 2.5, false, 90};
    rotation_plan whole = moved;
    whole.method = rotation_method::unchanged;
    rotation_plan off_grid = moved;
    off_grid.pivot_x = 2.25;
    rotated_rows rows;
    EXPECT_EQ(rows.prepare(source.m, whole, own), ERR_INVALID_PARAM);
    EXPECT_EQ(rows.prepare(source.m, off_grid, own), ERR_INVALID_PARAM);
    EXPECT_EQ(rows.prepare(source.m, moved, {0, 0, 6, 0}), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(rows.prepare(source.m, moved, {32000, 0, 800, 1}), ERR_IMPROPER_WINDOW);
    int32_t made[12] = {};
    EXPECT_EQ(rows.make(0, 1, made, 6), ERR_INVALID_PARAM);  // not prepared
    ASSERT_EQ(rows.prepare(source.m, moved, {0, 0, 6, 2}), 0);
    EXPECT_EQ(rows.make(1, 2, made, 6), ERR_INVALID_PARAM);
    EXPECT_EQ(rows.make(-1, 1, made, 6), ERR_INVALID_PARAM);
    EXPECT_EQ(rows.make(0, 2, made, 5), ERR_INVALID_PARAM);
    EXPECT_EQ(made[0], 0);
    window out{};
    EXPECT_FALSE(moved_part_window(source.m, own, own, whole, &out));
    EXPECT_EQ(resampled_valid_window(source.m, own, own, moved, &out), ERR_INVALID_PARAM);
}

}  // namespace
}  // namespace spinmap::test
