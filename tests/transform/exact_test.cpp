// Exact rotation: quarter and half turns done by moving values unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <spinmap/transform/transform.h>
#include "transform_test_support.h"

namespace spinmap::test {
namespace {

struct exact_case {
    const char* name;
    window source_window;
    std::vector<int32_t> source;
    double px, py;
    int turn;
    window result_window;
    std::vector<int32_t> expected;
};

TEST(MatrixRotateExact, MovesValuesToTheirTurnedPlaces) {
    const exact_case cases[] = {
        {"row turned 90 about (1, 1) fills column 0 bottom up", {0, 0, 3, 1}, {11, 12, 13}, 1, 1, 90, {0, 0, 3, 3},
         {13, NV, NV,  //
          12, NV, NV,  //
          11, NV, NV}},
        {"row turned -90 about (1, 1) fills column 2 top down", {0, 0, 3, 1}, {11, 12, 13}, 1, 1, -90, {0, 0, 3, 3},
         {NV, NV, 11,  //
          NV, NV, 12,  //
          NV, NV, 13}},
        {"half turn about (1, 0.5) reverses the row into row 1", {0, 0, 3, 1}, {11, 12, 13}, 1, 0.5, 180,
         {0, 0, 3, 2},
         {NV, NV, NV,  //
          13, 12, 11}},
        {"2 x 2 turned 90 about its centre", {0, 0, 2, 2}, {1, 2, 3, 4}, 0.5, 0.5, 90, {0, 0, 2, 2}, {2, 4, 1, 3}},
        {"invalid values move like any other", {0, 0, 2, 2}, {1, NV + 3, 3, 4}, 0.5, 0.5, 180, {0, 0, 2, 2},
         {4, 3, NV + 3, 1}},
        {"places outside the result are dropped", {0, 0, 3, 1}, {11, 12, 13}, 1, 1, 90, {0, 1, 2, 2},
         {12, NV,  //
          11, NV}},
        {"offset windows: pixels (10, 20) and (11, 20) about (11, 21) go to (10, 22) and (10, 21)",
         {10, 20, 2, 1}, {20010, 20011}, 11, 21, 90, {10, 21, 1, 2}, {20011, 20010}},
        {"one whole and one half coordinate truncates toward zero", {0, 0, 2, 1}, {7, 8}, 1, 0.5, 90, {0, 0, 2, 2},
         {8, NV,  //
          7, NV}},
    };
    for (const exact_case& c : cases) {
        owned_matrix source(c.source_window, c.source);
        owned_matrix result(c.result_window, NV);
        EXPECT_EQ(matrix_rotate_exact(&source.m, &result.m, c.px, c.py, c.turn), 0) << c.name;
        EXPECT_EQ(result.values(), c.expected) << c.name;
    }
}

TEST(MatrixRotateExact, RefusesBadArgumentsBeforeWritingAnything) {
    owned_matrix source({0, 0, 3, 1}, {11, 12, 13});
    owned_matrix result({0, 0, 3, 3}, NV);
    owned_matrix far_right({32760, 0, 7, 1}, NV);  // x + width = 32767: still walkable
    owned_matrix too_far({32761, 0, 7, 1}, NV);
    height_matrix no_array = source.m;
    no_array.matrix = nullptr;
    height_matrix short_array = source.m;
    short_array.size = 2;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        const height_matrix* source;
        height_matrix* result;
        double px, py;
        int turn;
        int error;
    } cases[] = {
        {"pivot (10.25, 20)", &source.m, &result.m, 10.25, 20, 90, ERR_INVALID_PARAM},
        {"NaN pivot", &source.m, &result.m, 1, nan, 180, ERR_INVALID_PARAM},
        {"infinite pivot", &source.m, &result.m, INFINITY, 1, 180, ERR_INVALID_PARAM},
        {"turn 45", &source.m, &result.m, 1, 1, 45, ERR_INVALID_PARAM},
        {"turn 270", &source.m, &result.m, 1, 1, 270, ERR_INVALID_PARAM},
        {"turn 0", &source.m, &result.m, 1, 1, 0, ERR_INVALID_PARAM},
        {"no source", nullptr, &result.m, 1, 1, 90, ERR_INVALID_PARAM},
        {"no result", &source.m, nullptr, 1, 1, 90, ERR_INVALID_PARAM},
        {"source without array", &no_array, &result.m, 1, 1, 90, ERR_INVALID_PARAM},
        {"source smaller than its window", &short_array, &result.m, 1, 1, 90, ERR_INVALID_PARAM},
        {"result beyond the 16-bit walk", &source.m, &too_far.m, 1, 1, 90, ERR_IMPROPER_WINDOW},
        {"result at the 16-bit walk's end", &source.m, &far_right.m, 1, 1, 90, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matrix_rotate_exact(c.source, c.result, c.px, c.py, c.turn), c.error) << c.name;
        EXPECT_EQ(result.values(), std::vector<int32_t>(9, NV)) << c.name;
    }
}

TEST(MatrixRotateExact, FarPivotsCopyNothing) {
    owned_matrix source({0, 0, 4, 3}, coordinate_raster({0, 0, 4, 3}));
    for (const double pivot : {1e30, -1e30, 3e9, -3e9, 1e9, -1e9, 40000.5}) {
        for (const int turn : {90, -90, 180}) {
            owned_matrix result({0, 0, 4, 4}, NV);
            EXPECT_EQ(matrix_rotate_exact(&source.m, &result.m, pivot, pivot, turn), 0) << pivot << " " << turn;
            EXPECT_EQ(result.values(), std::vector<int32_t>(16, NV)) << pivot << " " << turn;
        }
    }
}

TEST(MatrixRotateExact, ReportsTableAllocationFailureAndReleasesWhatItTook) {
    owned_matrix source({0, 0, 3, 1}, {11, 12, 13});
    owned_matrix result({0, 0, 3, 3}, NV);
    for (const int successful_calls : {0, 1}) {
        allocation_hooks scope(allocation_hooks::failing_from{successful_calls + 1});
        EXPECT_EQ(matrix_rotate_exact(&source.m, &result.m, 1, 1, 90), ERR_NO_MEM);
        EXPECT_EQ(scope.log().live.size(), 0u);
    }
    EXPECT_EQ(result.values(), std::vector<int32_t>(9, NV));
}

// Forward place of camera pixel (x, y) under a turn about (px, py) whose
// coordinates share their fraction.
void forward_place(int turn, double px, double py, int x, int y, int* to_x, int* to_y) {
    const double fx = turn == 90 ? px - py + y : turn == -90 ? px + py - y : 2 * px - x;
    const double fy = turn == 90 ? px + py - x : turn == -90 ? py - px + x : 2 * py - y;
    *to_x = int(fx);
    *to_y = int(fy);
}

TEST(MatrixRotateExact, PropertyEveryValidValueLandsUnchangedAtItsForwardPlace) {
    const window result_window{0, 0, 60, 50};
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        std::mt19937 gen(seed);
        const window source_window{int16_t(gen() % 30), int16_t(gen() % 30), int16_t(1 + gen() % 40),
                                   int16_t(1 + gen() % 40)};
        const double half = (gen() % 2) * 0.5;  // both whole or both half
        const double px = double(gen() % 50) + half, py = double(gen() % 50) + half;
        const int turn = std::array{90, -90, 180}[gen() % 3];
        owned_matrix source(source_window, random_heights(source_window, seed, 5));
        owned_matrix result(result_window, NV);
        ASSERT_EQ(matrix_rotate_exact(&source.m, &result.m, px, py, turn), 0);

        std::vector<int32_t> landed;
        for (int y = source_window.y; y < source_window.y + source_window.height; ++y) {
            for (int x = source_window.x; x < source_window.x + source_window.width; ++x) {
                int to_x = 0, to_y = 0;
                forward_place(turn, px, py, x, y, &to_x, &to_y);
                if (to_x < 0 || to_x >= result_window.width || to_y < 0 || to_y >= result_window.height) continue;
                if (!is_valid_height(source.at(x, y))) continue;
                EXPECT_EQ(result.at(to_x, to_y), source.at(x, y)) << "seed " << seed;
                landed.push_back(source.at(x, y));
            }
        }
        std::vector<int32_t> valid_in_result;
        for (const int32_t v : result.values())
            if (is_valid_height(v)) valid_in_result.push_back(v);
        std::sort(landed.begin(), landed.end());
        std::sort(valid_in_result.begin(), valid_in_result.end());
        EXPECT_EQ(valid_in_result, landed) << "seed " << seed;
    }
}

// A quarter turn of a stripe wider than those whose rows are split between
// threads, all of it landing, on each forced thread count.
TEST(MatrixRotateExact, WideStripesMatchThePlainReference) {
    const window source_window{0, 0, 300, 20}, result_window{0, 0, 20, 300};
    const struct {
        int turn;
        double pivot;  // both coordinates
    } turns[] = {{90, 149.5}, {-90, 9.5}};
    for (const auto [turn, pivot] : turns) {
        for (const int threads : FORCED_THREAD_COUNTS) {
            const forced_threads forced(threads);
            owned_matrix source(source_window, coordinate_raster(source_window));
            owned_matrix result(result_window, NV), expected(result_window, NV);
            ASSERT_EQ(matrix_rotate_exact(&source.m, &result.m, pivot, pivot, turn), 0);
            reference_rotate_exact(source.m, expected.m, pivot, pivot, turn);
            EXPECT_EQ(result.values(), expected.values()) << turn << ", " << threads << " threads";
            const std::vector<int32_t> values = result.values();
            EXPECT_EQ(std::count(values.begin(), values.end(), NV), 0);
        }
    }
}

// Guards later tuning of the kernel: frames larger than its tiles, windows
// that cut the turned source on every side, pivots of every fraction pair,
// each seed on one of the forced thread counts.
TEST(MatrixRotateExact, MatchesThePlainReferenceBitForBit) {
    for (uint32_t seed = 100; seed < 160; ++seed) {
        const forced_threads forced(FORCED_THREAD_COUNTS[seed % std::size(FORCED_THREAD_COUNTS)]);
        std::mt19937 gen(seed);
        const window source_window{int16_t(int(gen() % 200) - 100), int16_t(int(gen() % 200) - 100),
                                   int16_t(1 + gen() % 150), int16_t(1 + gen() % 150)};
        const window result_window{int16_t(int(gen() % 200) - 100), int16_t(int(gen() % 200) - 100),
                                   int16_t(1 + gen() % 150), int16_t(1 + gen() % 150)};
        const double px = double(int(gen() % 300) - 150) / 2, py = double(int(gen() % 300) - 150) / 2;
        const int turn = std::array{90, -90, 180}[gen() % 3];
        owned_matrix source(source_window, random_heights(source_window, seed, 7));
        owned_matrix result(result_window, NV);
        owned_matrix expected(result_window, NV);
        ASSERT_EQ(matrix_rotate_exact(&source.m, &result.m, px, py, turn), 0);
        reference_rotate_exact(source.m, expected.m, px, py, turn);
        EXPECT_EQ(result.values(), expected.values()) << "seed " << seed;
    }
}

}  // namespace
}  // namespace spinmap::test
