#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include <spinmap/matrix/matrix.h>
#include "test_support.h"

namespace spinmap {
namespace {

using test::HeightMatrix;
using test::I;
using test::FORCED_THREAD_COUNTS;
using test::forced_threads;

// Window (100, 50, 6, 4) with valid points only at (102, 51) and (104, 52),
// each holding x + 1000*y.
class TwoPoints : public testing::Test {
protected:
    HeightMatrix h{{100, 50, 6, 4}, {
                                        I, I, I,     I, I,     I,  //
                                        I, I, 51102, I, I,     I,  //
                                        I, I, I,     I, 52104, I,  //
                                        I, I, I,     I, I,     I,  //
                                    }};
};

TEST_F(TwoPoints, ValidWindowEnclosesBothPoints) {
    window out{};
    EXPECT_EQ(matrix_valid_window(&h.m, nullptr, &out), 0);
    EXPECT_EQ(out, (window{102, 51, 3, 2}));
}

TEST_F(TwoPoints, CountIsTwo) {
    int32_t count = -1;
    EXPECT_EQ(matrix_count_valid(&h.m, nullptr, &count), 0);
    EXPECT_EQ(count, 2);
}

TEST_F(TwoPoints, ValidCenterIsMidpointOfValidWindow) {
    double cx = 0, cy = 0;
    EXPECT_EQ(matrix_valid_center(&h.m, &cx, &cy), 0);
    EXPECT_EQ(cx, 103.0);
    EXPECT_EQ(cy, 51.5);
}

TEST_F(TwoPoints, TrimKeepsValidWindowWithInvalidPointsInside) {
    EXPECT_EQ(matrix_trim(&h.m), 0);
    EXPECT_EQ(h.m.window, (window{102, 51, 3, 2}));
    EXPECT_EQ(h.values(), (std::vector<int32_t>{51102, I, I, I, I, 52104}));
}

TEST_F(TwoPoints, TrimCompactsInPlaceWithoutAllocating) {
    int32_t* const before = h.m.matrix;
    test::allocation_hooks guard;
    guard.log().fail_from = 1;  // any allocation would fail
    EXPECT_EQ(matrix_trim(&h.m), 0);
    EXPECT_EQ(guard.log().calls, 0);
    EXPECT_EQ(h.m.matrix, before);
    EXPECT_EQ(h.m.size, 24u);
    EXPECT_EQ(h.m.window, (window{102, 51, 3, 2}));
}

TEST_F(TwoPoints, SearchWindowLimitsTheScan) {
    const struct {
        window search;
        int code;
        window valid;
        int32_t count;
    } cases[] = {
        {{100, 50, 6, 4}, 0, {102, 51, 3, 2}, 2},  // equal to the matrix window
        {{103, 50, 3, 4}, 0, {104, 52, 1, 1}, 1},
        {{100, 50, 3, 2}, 0, {102, 51, 1, 1}, 1},
        {{100, 50, 2, 4}, ERR_ALL_BAD_DATA, {0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        window out{9, 9, 9, 9};
        EXPECT_EQ(matrix_valid_window(&h.m, &c.search, &out), c.code) << testing::PrintToString(c.search);
        EXPECT_EQ(out, c.valid) << testing::PrintToString(c.search);
        int32_t count = -1;
        EXPECT_EQ(matrix_count_valid(&h.m, &c.search, &count), 0);
        EXPECT_EQ(count, c.count) << testing::PrintToString(c.search);
    }
}

TEST_F(TwoPoints, SearchWindowNotWithinMatrixIsRefused) {
    const window searches[] = {
        {100, 50, 7, 4},   // one column too wide
        {99, 50, 6, 4},    // one column to the left
        {100, 50, 6, 5},   // one row too tall
        {100, 49, 6, 4},   // one row above
        {0, 0, 5, 5},      // disjoint
        {103, 51, -1, 1},  // negative width, right column inside
    };
    for (const window& s : searches) {
        window out{9, 9, 9, 9};
        EXPECT_EQ(matrix_valid_window(&h.m, &s, &out), ERR_IMPROPER_WINDOW) << testing::PrintToString(s);
        EXPECT_EQ(out, (window{9, 9, 9, 9}));
        int32_t count = -1;
        EXPECT_EQ(matrix_count_valid(&h.m, &s, &count), ERR_IMPROPER_WINDOW) << testing::PrintToString(s);
        EXPECT_EQ(count, 0);
    }
}

TEST(ValidPoints, AllInvalidMatrixHasNoValidWindowAndIsNotTrimmed) {
    HeightMatrix h({10, 20, 3, 2}, {I, 2147483647, 2147483641, I, I, 2147483645});
    int32_t* const before = h.m.matrix;

    window out{9, 9, 9, 9};
    EXPECT_EQ(matrix_valid_window(&h.m, nullptr, &out), ERR_ALL_BAD_DATA);
    EXPECT_EQ(out, (window{0, 0, 0, 0}));
    int32_t count = -1;
    EXPECT_EQ(matrix_count_valid(&h.m, nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    double cx = -1, cy = -1;
    EXPECT_EQ(matrix_valid_center(&h.m, &cx, &cy), ERR_ALL_BAD_DATA);
    EXPECT_EQ(cx, -1);

    EXPECT_EQ(matrix_trim(&h.m), ERR_ALL_BAD_DATA);
    EXPECT_EQ(h.m.matrix, before);
    EXPECT_EQ(h.m.window, (window{10, 20, 3, 2}));
    EXPECT_EQ(h.values(), (std::vector<int32_t>{I, 2147483647, 2147483641, I, I, 2147483645}));
}

TEST(ValidPoints, NegativeHeightsAreValidAndCounted) {
    HeightMatrix h({0, 0, 3, 2}, {-2147483647 - 1, -1, 0, 2147483639, 2147483640, 2147483647});
    int32_t count = 0;
    EXPECT_EQ(matrix_count_valid(&h.m, nullptr, &count), 0);
    EXPECT_EQ(count, 4);
    window out{};
    EXPECT_EQ(matrix_valid_window(&h.m, nullptr, &out), 0);
    EXPECT_EQ(out, (window{0, 0, 3, 2}));
}

// The same six heights over and over (four valid), in two rows of each width
// up to more than two groups of four, and in a search window that starts off
// the groups.
TEST(ValidPoints, CountsTheBoundaryHeightsInRowsOfEveryWidth) {
    const int32_t cycle[6] = {-2147483647 - 1, -1, 0, 2147483639, 2147483640, 2147483647};
    const auto cycled = [&](HeightMatrix& h) {
        for (uint32_t k = 0; k < h.m.size; ++k) h.m.matrix[k] = cycle[k % 6];
    };
    const int32_t expected[10] = {0, 2, 4, 4, 6, 8, 8, 10, 12, 12};
    for (int16_t width = 1; width <= 9; ++width) {
        HeightMatrix h({5, 7, width, 2}, {});
        cycled(h);
        int32_t count = -1;
        EXPECT_EQ(matrix_count_valid(&h.m, nullptr, &count), 0);
        EXPECT_EQ(count, expected[width]) << width;
    }
    HeightMatrix h({0, 0, 12, 3}, {});
    cycled(h);
    const window search{1, 1, 10, 2};  // columns 1 to 10 of rows 1 and 2
    int32_t count = -1;
    EXPECT_EQ(matrix_count_valid(&h.m, &search, &count), 0);
    EXPECT_EQ(count, 14);
}

TEST(ValidPoints, ValidWindowOfPointPatterns) {
    // Matrix window (10, 20, 4, 3); valid points hold x + 1000*y.
    const struct {
        std::vector<int32_t> values;
        window valid;
    } cases[] = {
        {{20010, I, I, I, /**/ I, I, I, I, /**/ I, I, I, I}, {10, 20, 1, 1}},      // upper-left corner
        {{I, I, I, I, /**/ I, I, I, I, /**/ I, I, I, 22013}, {13, 22, 1, 1}},      // lower-right corner
        {{I, I, I, I, /**/ I, I, 21012, I, /**/ I, I, I, I}, {12, 21, 1, 1}},      // interior
        {{I, I, I, 20013, /**/ I, I, I, I, /**/ 22010, I, I, I}, {10, 20, 4, 3}},  // opposite corners
        {{I, 20011, I, I, /**/ 21010, I, I, I, /**/ I, I, I, I}, {10, 20, 2, 2}},
        {{I, I, I, I, /**/ I, 21011, 21012, I, /**/ I, 22011, I, I}, {11, 21, 2, 2}},
    };
    for (const auto& c : cases) {
        HeightMatrix h({10, 20, 4, 3}, {});
        std::copy(c.values.begin(), c.values.end(), h.m.matrix);
        window out{};
        EXPECT_EQ(matrix_valid_window(&h.m, nullptr, &out), 0);
        EXPECT_EQ(out, c.valid);
    }
}

// Sparse random matrices of widths around the four-element blocks, each in
// a random search window or the whole matrix, its rows in bands on one of the
// forced thread counts: the valid window is the least and greatest row and
// column of a valid point, and the trim keeps exactly that part.
TEST(ValidPoints, ValidWindowAndTrimMatchTheValidPointsOfRandomMatrices) {
    std::mt19937 gen(7);
    for (int trial = 0; trial < 400; ++trial) {
        const forced_threads forced(FORCED_THREAD_COUNTS[trial % std::size(FORCED_THREAD_COUNTS)]);
        const window w{int16_t(int(gen() % 40) - 20), int16_t(int(gen() % 40) - 20), int16_t(1 + gen() % 23),
                       int16_t(1 + gen() % 12)};
        HeightMatrix h(w, {});
        const uint32_t one_in = 2 + gen() % 40;
        for (uint32_t k = 0; k < h.m.size; ++k) h.m.matrix[k] = gen() % one_in == 0 ? int32_t(k) : I + int32_t(gen() % 8);
        // Every other trial searches the whole matrix, and then trims it.
        const int16_t sx = int16_t(w.x + gen() % w.width), sy = int16_t(w.y + gen() % w.height);
        const window s = trial % 2 == 0 ? w
                                        : window{sx, sy, int16_t(1 + gen() % (w.x + w.width - sx)),
                                                 int16_t(1 + gen() % (w.y + w.height - sy))};
        int left = 1 << 20, right = -(1 << 20), top = 1 << 20, bottom = -(1 << 20);
        for (int y = s.y; y < s.y + s.height; ++y) {
            for (int x = s.x; x < s.x + s.width; ++x) {
                if (h.m.matrix[(y - w.y) * w.width + (x - w.x)] >= I) continue;
                left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
        window out{1, 1, 1, 1};
        if (right < left) {
            EXPECT_EQ(matrix_valid_window(&h.m, &s, &out), ERR_ALL_BAD_DATA) << trial;
            continue;
        }
        const window expected{int16_t(left), int16_t(top), int16_t(right - left + 1), int16_t(bottom - top + 1)};
        EXPECT_EQ(matrix_valid_window(&h.m, &s, &out), 0) << trial;
        EXPECT_EQ(out, expected) << trial;
        if (wn_compare(s, w) != WN_EQUAL) continue;
        std::vector<int32_t> kept;
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x) kept.push_back(h.m.matrix[(y - w.y) * w.width + (x - w.x)]);
        EXPECT_EQ(matrix_trim(&h.m), 0) << trial;
        EXPECT_EQ(h.m.window, expected) << trial;
        EXPECT_EQ(h.values(), kept) << trial;
    }
}

TEST(ValidPoints, TrimOfMatrixFilledToItsEdgesAllocatesNothing) {
    HeightMatrix h({10, 20, 3, 3}, {I, 20011, I, /**/ 21010, I, 21012, /**/ I, 22011, I});
    int32_t* const before = h.m.matrix;
    test::allocation_hooks guard;
    EXPECT_EQ(matrix_trim(&h.m), 0);
    EXPECT_EQ(guard.log().calls, 0);
    EXPECT_EQ(h.m.matrix, before);
    EXPECT_EQ(h.m.window, (window{10, 20, 3, 3}));
}

TEST(ValidPoints, TrimDropsRowsAndColumnsOutsideValidPoints) {
    HeightMatrix h({10, 20, 4, 3}, {I, I, I, I, /**/ I, 21011, 21012, I, /**/ I, 22011, I, I});
    EXPECT_EQ(matrix_trim(&h.m), 0);
    EXPECT_EQ(h.m.window, (window{11, 21, 2, 2}));
    EXPECT_EQ(h.values(), (std::vector<int32_t>{21011, 21012, 22011, I}));
}

TEST(ValidPoints, UnreadableRecordsAreRefused) {
    enum Fault { NullArray, ArrayTooSmall, WindowBeyondRange };
    const struct {
        Fault fault;
        int code;
    } cases[] = {
        {NullArray, ERR_INVALID_PARAM},
        {ArrayTooSmall, ERR_INVALID_PARAM},
        {WindowBeyondRange, ERR_IMPROPER_WINDOW},
    };
    for (const auto& c : cases) {
        HeightMatrix h({32766, 0, 2, 2}, {1, 2, 3, 4});
        HeightMatrix destination({32766, 0, 1, 1}, {7});
        int32_t* const array = h.m.matrix;
        if (c.fault == NullArray) h.m.matrix = nullptr;
        if (c.fault == ArrayTooSmall) h.m.window.height = 3;
        if (c.fault == WindowBeyondRange) h.m.window.x = 32767;  // right column 32768
        const window before = h.m.window;

        int32_t count = -1;
        EXPECT_EQ(matrix_count_valid(&h.m, nullptr, &count), c.code) << c.fault;
        EXPECT_EQ(count, 0);
        window out{9, 9, 9, 9};
        EXPECT_EQ(matrix_valid_window(&h.m, nullptr, &out), c.code) << c.fault;
        EXPECT_EQ(out, (window{9, 9, 9, 9}));
        double cx = 0, cy = 0;
        EXPECT_EQ(matrix_valid_center(&h.m, &cx, &cy), c.code) << c.fault;
        EXPECT_EQ(matrix_trim(&h.m), c.code) << c.fault;
        EXPECT_EQ(h.m.window, before);
        EXPECT_EQ(matrix_copy_window(&h.m, &destination.m), c.code) << c.fault;
        EXPECT_EQ(destination.m.matrix[0], 7);
        EXPECT_EQ(matrix_copy_window(&destination.m, &h.m), c.code) << c.fault;

        h.m.matrix = array;
        h.m.window = {32766, 0, 2, 2};
    }
}

TEST(MatrixCopyWindow, CopiesDestinationWindowOutOfSource) {
    // Source (10, 20, 4, 3) holds x + 1000*y.
    HeightMatrix source({10, 20, 4, 3}, {20010, 20011, 20012, 20013,  //
                                         21010, 21011, 21012, 21013,  //
                                         22010, 22011, 22012, 22013});
    const struct {
        window to;
        std::vector<int32_t> copied;
    } cases[] = {
        {{11, 21, 2, 2}, {21011, 21012, 22011, 22012}},
        {{13, 20, 1, 3}, {20013, 21013, 22013}},
        {{10, 22, 4, 1}, {22010, 22011, 22012, 22013}},
        {{10, 20, 4, 3}, {20010, 20011, 20012, 20013, 21010, 21011, 21012, 21013, 22010, 22011, 22012, 22013}},
    };
    for (const auto& c : cases) {
        owned_height destination;
        destination.window = c.to;
        ASSERT_EQ(matrix_alloc(&destination), 0);
        EXPECT_EQ(matrix_copy_window(&source.m, &destination), 0);
        EXPECT_EQ(std::vector<int32_t>(destination.matrix, destination.matrix + destination.size), c.copied)
            << testing::PrintToString(c.to);
    }
}

TEST(MatrixCopyWindow, DestinationNotWithinSourceIsRefused) {
    HeightMatrix source({10, 20, 4, 3}, {});
    const window destinations[] = {
        {9, 20, 2, 2},    // one column left of the source
        {12, 21, 3, 2},   // one column beyond its right
        {10, 22, 1, 2},   // one row below it
        {0, 0, 2, 2},     // disjoint
        {9, 19, 6, 5},    // containing it
    };
    for (const window& to : destinations) {
        HeightMatrix destination(to, {});
        destination.m.matrix[0] = 7;
        EXPECT_EQ(matrix_copy_window(&source.m, &destination.m), ERR_IMPROPER_WINDOW) << testing::PrintToString(to);
        EXPECT_EQ(destination.m.matrix[0], 7);
    }
}

}  // namespace
}  // namespace spinmap
