#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <spinmap/matrix/matrix.h>
#include "test_support.h"

namespace spinmap {
namespace {

using test::HeightMatrix;
using test::I;

TEST(MatrixAlloc, RefusesEmptyNegativeAndOversizedCountsWithoutAllocating) {
    const struct {
        window w;
        int16_t n_buckets;
    } cases[] = {
        {{3, 4, 0, 5}, 1},            // zero width
        {{3, 4, 5, 0}, 1},            // zero height
        {{3, 4, 0, 0}, 1},            // both zero
        {{3, 4, -1, 5}, 1},           // negative width
        {{3, 4, -2, -2}, 1},          // negative extents whose product is positive
        {{3, 4, 5, 5}, 0},            // no buckets
        {{3, 4, 5, 5}, -1},           // negative buckets
        {{0, 0, 32767, 32767}, 5},    // 5 x 32767^2 does not fit 32 bits
    };
    test::allocation_hooks guard;
    for (const auto& c : cases) {
        height_matrix h{};
        h.window = c.w;
        intensity_matrix in{};
        in.window = c.w;
        in.n_buckets = c.n_buckets;
        in.intens_range = 7;
        if (c.n_buckets == 1) {
            EXPECT_EQ(matrix_alloc(&h), ERR_PARAM_OUT_OF_RANGE);
            EXPECT_EQ(h.window, c.w);
            EXPECT_EQ(h.matrix, nullptr);
        }
        EXPECT_EQ(matrix_alloc(&in), ERR_PARAM_OUT_OF_RANGE);
        EXPECT_EQ(in.window, c.w);
        EXPECT_EQ(in.n_buckets, c.n_buckets);
        EXPECT_EQ(in.intens_range, 7);
        EXPECT_EQ(in.size, 0u);
        EXPECT_EQ(in.matrix, nullptr);
    }
    EXPECT_EQ(guard.log().calls, 0);
}

TEST(MatrixAlloc, FailedAllocationLeavesNoArray) {
    test::allocation_hooks guard;
    guard.log().fail_from = 1;
    height_matrix h{};
    h.window = {3, 4, 5, 2};
    EXPECT_EQ(matrix_alloc(&h), ERR_NO_MEM);
    EXPECT_EQ(h.matrix, nullptr);
    EXPECT_EQ(h.size, 0u);
    EXPECT_EQ(h.window, (window{3, 4, 5, 2}));  // the height record keeps its window

    intensity_matrix in{};
    in.window = {3, 4, 5, 2};
    in.n_buckets = 3;
    in.intens_range = 9;
    EXPECT_EQ(matrix_alloc(&in), ERR_NO_MEM);
    EXPECT_EQ(in.matrix, nullptr);
    EXPECT_EQ(in.size, 0u);
    EXPECT_EQ(in.window, (window{3, 4, 0, 0}));  // extent and buckets are lost
    EXPECT_EQ(in.n_buckets, 0);
    EXPECT_EQ(in.intens_range, 9);
    EXPECT_EQ(guard.log().calls, 2);
}

TEST(MatrixFree, EmptyRecordKeepsXAndY) {
    height_matrix h{};
    h.window = {-7, 12, 0, 0};
    EXPECT_EQ(matrix_free(&h), 0);
    EXPECT_EQ(matrix_free(&h), 0);  // twice is harmless
    EXPECT_EQ(h.window, (window{-7, 12, 0, 0}));
    EXPECT_EQ(h.matrix, nullptr);
    intensity_matrix in{};
    in.window = {5, -3, 0, 0};
    EXPECT_EQ(matrix_free(&in), 0);
    EXPECT_EQ(in.window, (window{5, -3, 0, 0}));
}

// Owners release through free_hook once, whichever of them holds the array
// last; a moved-from owner holds none.
TEST(MatrixOwner, ReleasesItsArrayOnceThroughTheFreeHook) {
    test::allocation_hooks guard;
    {
        owned_height first;
        first.window = {0, 0, 2, 2};
        ASSERT_EQ(matrix_alloc(&first), 0);
        const int32_t* const array = first.matrix;
        owned_height second(std::move(first));
        EXPECT_EQ(first.matrix, nullptr);
        owned_height third;
        third = std::move(second);
        EXPECT_EQ(second.matrix, nullptr);
        EXPECT_EQ(third.matrix, array);
        owned_intensity frames;
        frames.window = {0, 0, 1, 1};
        frames.n_buckets = 2;
        ASSERT_EQ(matrix_alloc(&frames), 0);
    }
    EXPECT_EQ(guard.log().calls, 2);
    EXPECT_EQ(guard.log().releases, 2);
    EXPECT_TRUE(guard.log().live.empty());
}

TEST(MatrixFill, ZeroExtentStoresNothing) {
    HeightMatrix h({0, 0, 3, 2}, {1, 2, 3, 4, 5, 6});
    h.m.window.height = 0;
    matrix_fill(&h.m, I);
    h.m.window.height = 2;
    EXPECT_EQ(h.values(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
}

TEST(MatrixElement, AddressesPixelRelativeToWindowOrigin) {
    HeightMatrix h({10, 20, 5, 4}, {});
    EXPECT_EQ(matrix_element(&h.m, window{12, 21, 0, 0}) - h.m.matrix, 7);
}

TEST(MatrixRows, OneRowWindowWritesOnlyFirstEntry) {
    HeightMatrix h({0, 0, 4, 3}, {});
    int32_t sentinel = 0;
    int32_t* rows[3] = {&sentinel, &sentinel, &sentinel};
    const window one_row{1, 2, 3, 1};
    matrix_rows(&h.m, &one_row, rows);
    EXPECT_EQ(rows[0], h.m.matrix + 9);
    EXPECT_EQ(rows[1], &sentinel);
    EXPECT_EQ(rows[2], &sentinel);
}

TEST(MatrixRows, StrideIsTheMatrixWidth) {
    // Coordinate raster x + 1000*y over (0, 0, 4, 3); rows of the window (1, 1, 2, 2).
    HeightMatrix h({0, 0, 4, 3}, {0, 1, 2, 3, 1000, 1001, 1002, 1003, 2000, 2001, 2002, 2003});
    int32_t* rows[2] = {};
    const window inner{1, 1, 2, 2};
    matrix_rows(&h.m, &inner, rows);
    EXPECT_EQ(rows[0][0], 1001);
    EXPECT_EQ(rows[1][1], 2002);

    int32_t* whole[3] = {};
    matrix_rows(&h.m, nullptr, whole);
    EXPECT_EQ(whole[2][3], 2003);
}

TEST(HeightValidity, ValidBelowTheInvalidMarker) {
    const struct {
        int32_t value;
        bool valid;
    } cases[] = {
        {2147483639, true},
        {2147483640, false},
        {2147483647, false},
        {-2147483647 - 1, true},
        {-1, true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_height(c.value), c.valid) << c.value;
}

TEST(MatrixResize, ReallocatesOnlyWhenTheArrayDoesNotFit) {
    const struct {
        window to;
        bool keep;
        bool reallocates;
        uint32_t size;
    } cases[] = {
        {{0, 0, 4, 4}, true, true, 16},    // larger: always a new array
        {{0, 0, 2, 3}, true, false, 12},   // smaller and kept
        {{0, 0, 2, 3}, false, true, 6},    // smaller, not kept
        {{7, 8, 6, 2}, false, false, 12},  // same count: kept anyway
    };
    for (const auto& c : cases) {
        HeightMatrix h({0, 0, 4, 3}, {0, 1, 2, 3, 1000, 1001, 1002, 1003, 2000, 2001, 2002, 2003});
        test::allocation_hooks guard;
        EXPECT_EQ(matrix_resize(&h.m, c.to, c.keep), 0);
        EXPECT_EQ(guard.log().calls, c.reallocates ? 1 : 0) << c.to.width << "x" << c.to.height;
        EXPECT_EQ(h.m.size, c.size);
        EXPECT_EQ(h.m.window, c.to);
        if (!c.reallocates) {
            EXPECT_EQ(h.m.matrix[11], 2003);  // contents kept
        }
    }
}

TEST(MatrixResize, ZeroCountReleasesArrayAndKeepsWindow) {
    HeightMatrix h({1, 2, 4, 3}, {});
    EXPECT_EQ(matrix_resize(&h.m, window{5, 5, 0, 9}, true), 0);
    EXPECT_EQ(h.m.matrix, nullptr);
    EXPECT_EQ(h.m.size, 0u);
    EXPECT_EQ(h.m.window, (window{1, 2, 4, 3}));
}

TEST(MatrixResize, NegativeExtentIsRefusedAndRecordUnchanged) {
    HeightMatrix h({1, 2, 4, 3}, {});
    int32_t* const before = h.m.matrix;
    EXPECT_EQ(matrix_resize(&h.m, window{0, 0, -3, -4}, false), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(h.m.matrix, before);
    EXPECT_EQ(h.m.size, 12u);
    EXPECT_EQ(h.m.window, (window{1, 2, 4, 3}));
}

TEST(MatrixResize, FailedAllocationLeavesNoArrayAndOldWindow) {
    HeightMatrix h({1, 2, 4, 3}, {});
    intensity_matrix in{};
    in.window = {1, 2, 2, 2};
    in.n_buckets = 2;
    ASSERT_EQ(matrix_alloc(&in), 0);
    test::allocation_hooks guard;
    guard.log().fail_from = 1;

    EXPECT_EQ(matrix_resize(&h.m, window{0, 0, 5, 5}, true), ERR_NO_MEM);
    EXPECT_EQ(h.m.matrix, nullptr);
    EXPECT_EQ(h.m.size, 0u);
    EXPECT_EQ(h.m.window, (window{1, 2, 4, 3}));

    EXPECT_EQ(matrix_resize(&in, window{0, 0, 2, 2}, 3, true), ERR_NO_MEM);
    EXPECT_EQ(in.matrix, nullptr);
    EXPECT_EQ(in.size, 0u);
    EXPECT_EQ(in.window, (window{1, 2, 2, 2}));
    EXPECT_EQ(in.n_buckets, 2);
}

TEST(MatrixResize, IntensityTakesTheBucketCount) {
    owned_intensity in;
    in.window = {1, 2, 2, 2};
    in.n_buckets = 2;
    ASSERT_EQ(matrix_alloc(&in), 0);
    EXPECT_EQ(matrix_resize(&in, window{0, 0, 2, 1}, 4, false), 0);  // 8 elements, as before
    EXPECT_EQ(in.n_buckets, 4);
    EXPECT_EQ(in.size, 8u);
    EXPECT_EQ(in.window, (window{0, 0, 2, 1}));
    EXPECT_EQ(matrix_resize(&in, window{0, 0, 2, 1}, 5, false), 0);
    EXPECT_EQ(in.size, 10u);
}

// Text a dump writes.
template <typename Matrix>
std::string dump_text(const Matrix* m) {
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return {};
    matrix_dump(f, m);
    std::rewind(f);
    std::string text;
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

// The "matrix = 0x..." line for an address: at least eight upper-case digits.
std::string address_line(const void* p) {
    char line[64];
    std::snprintf(line, sizeof line, "matrix = 0x%8.8" PRIXPTR "\n", reinterpret_cast<uintptr_t>(p));
    return line;
}

TEST(MatrixDump, NullRecordPrintsNull) {
    EXPECT_EQ(dump_text(static_cast<const height_matrix*>(nullptr)), "NULL\n");
    EXPECT_EQ(dump_text(static_cast<const intensity_matrix*>(nullptr)), "NULL\n");
}

TEST(MatrixDump, RecordWithoutArrayHasNoCrcLine) {
    height_matrix h{};
    h.window = {-5, 12, 640, 3};
    EXPECT_EQ(dump_text(&h),
              "size   = 0\n"
              "x      =   -5\n"
              "y      =   12\n"
              "width  =  640\n"
              "height =    3\n"
              "matrix = 0x00000000\n");
}

TEST(MatrixDump, CrcCoversWindowElementsWithinTheArray) {
    // Three elements, all bytes zero but the last, 0x80: the CRC of the whole
    // array is 0xEDB88320 (see U_Crc32), of any shorter part 0.
    HeightMatrix h({0, 0, 3, 1}, {0, 0, 0});
    const unsigned char last[4] = {0, 0, 0, 0x80};
    std::memcpy(&h.m.matrix[2], last, 4);
    const struct {
        int16_t width, height;
        std::string crc_line;
    } cases[] = {
        {3, 1, "crc    = 0xEDB88320\n"},
        {2, 1, "crc    = 0x00000000\n"},     // the element beyond the window is left out
        {3, 1000, "crc    = 0xEDB88320\n"},  // window grown after allocation: stops at size
        {0, 1, ""},                          // zero extent: no CRC line
    };
    for (const auto& c : cases) {
        h.m.window.width = c.width;
        h.m.window.height = c.height;
        char head[160];
        std::snprintf(head, sizeof head, "size   = 3\nx      =    0\ny      =    0\nwidth  = %4d\nheight = %4d\n",
                      c.width, c.height);
        EXPECT_EQ(dump_text(&h.m), head + address_line(h.m.matrix) + c.crc_line);
    }
}

TEST(U_Crc32, ReflectedPolynomialStartingFromZero) {
    // Worked by hand, one bit per step: crc ^= byte, then eight times
    // crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1.
    //  {0x80}: seven plain shifts leave 0x01, the eighth gives 0xEDB88320.
    //  {0x40}: as above after seven steps, then one plain shift: 0x76DC4190.
    //  {0x00, 0x80}: a zero byte leaves 0 unchanged (no initial inversion).
    //  {0x80, 0x00}: from 0xEDB88320, five plain shifts give 0x076DC419,
    //    then 0x03B6E20C ^ 0xEDB88320 = 0xEE0E612C, two plain shifts 0x3B83984B.
    //  {0x01}: 0xEDB88320 after the first step, then 0x77073096.
    const struct {
        std::vector<unsigned char> bytes;
        uint32_t crc;
    } cases[] = {
        {{}, 0x00000000},
        {{0x00, 0x00, 0x00}, 0x00000000},
        {{0x80}, 0xEDB88320},
        {{0x40}, 0x76DC4190},
        {{0x00, 0x80}, 0xEDB88320},
        {{0x80, 0x00}, 0x3B83984B},
        {{0x01}, 0x77073096},
    };
    for (const auto& c : cases) EXPECT_EQ(u_crc32(c.bytes.data(), c.bytes.size()), c.crc) << c.bytes.size();
}

}  // namespace
}  // namespace spinmap
