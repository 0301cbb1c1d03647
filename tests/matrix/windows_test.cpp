#include <gtest/gtest.h>

#include <spinmap/matrix/matrix.h>
#include "test_support.h"

namespace spinmap {
namespace {

TEST(WnCompare, RelationOfAToB) {
    const struct {
        window a, b;
        int relation;
    } cases[] = {
        {{0, 0, 10, 10}, {0, 0, 10, 10}, WN_EQUAL},     // equal, never inside
        {{2, 2, 3, 3}, {0, 0, 10, 10}, WN_INSIDE},
        {{0, 0, 10, 10}, {2, 2, 3, 3}, WN_CONTAINS},
        {{0, 0, 5, 10}, {0, 0, 10, 10}, WN_INSIDE},     // shares three edges
        {{0, 0, 10, 10}, {0, 5, 10, 5}, WN_CONTAINS},   // shares three edges
        {{0, 0, 10, 10}, {5, 5, 10, 10}, WN_OVERLAP},
        {{0, 0, 5, 5}, {4, 0, 5, 5}, WN_OVERLAP},       // same rows, one shared column
        {{0, 0, 10, 10}, {10, 0, 5, 5}, WN_DISJOINT},   // right neighbour
        {{10, 0, 5, 5}, {0, 0, 10, 10}, WN_DISJOINT},   // left neighbour
        {{0, 0, 10, 10}, {0, 10, 10, 5}, WN_DISJOINT},  // below
        {{0, 10, 10, 5}, {0, 0, 10, 10}, WN_DISJOINT},  // above
        {{0, 0, 4, 1}, {2, -1, 1, 3}, WN_OVERLAP},      // crossing
        {{-32768, -32768, 1, 1}, {32767, 32767, 1, 1}, WN_DISJOINT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wn_compare(c.a, c.b), c.relation)
            << testing::PrintToString(c.a) << " vs " << testing::PrintToString(c.b);
    }
}

TEST(WnIntersect, CommonPartOfOverlappingWindows) {
    const struct {
        window a, b, common;
    } cases[] = {
        {{0, 0, 10, 10}, {5, 5, 10, 10}, {5, 5, 5, 5}},
        {{5, 5, 10, 10}, {0, 0, 10, 10}, {5, 5, 5, 5}},
        {{0, 0, 5, 5}, {4, 0, 5, 5}, {4, 0, 1, 5}},  // one shared column
        {{0, 0, 10, 10}, {2, 2, 3, 3}, {2, 2, 3, 3}},
        {{0, 0, 4, 1}, {2, -1, 1, 3}, {2, 0, 1, 1}},
        {{-10, -10, 20, 20}, {0, 0, 640, 480}, {0, 0, 10, 10}},
    };
    for (const auto& c : cases) {
        window out{};
        EXPECT_EQ(wn_intersect(c.a, c.b, &out), 0);
        EXPECT_EQ(out, c.common) << testing::PrintToString(c.a) << " and " << testing::PrintToString(c.b);
    }
}

TEST(WnIntersect, DisjointWindowsLeaveOutputUntouched) {
    window out{1, 2, 3, 4};
    EXPECT_EQ(wn_intersect(window{0, 0, 10, 10}, window{10, 0, 5, 5}, &out), ERR_WINDOWS_DISJOINT);
    EXPECT_EQ(out, (window{1, 2, 3, 4}));
}

TEST(WnCenter, MidpointOfFirstAndLastPixelAndItsWholeNumberFloor) {
    const struct {
        window w;
        double cx, cy;
        int16_t icx, icy;  // wn_center_int halves towards minus infinity
    } cases[] = {
        {{0, 0, 640, 480}, 319.5, 239.5, 319, 239},
        {{3, 5, 5, 1}, 5.0, 5.0, 5, 5},  // odd width: whole number
        {{-4, -3, 2, 2}, -3.5, -2.5, -4, -3},  // sums -7 and -5
        {{-32768, 32766, 1, 2}, -32768.0, 32766.5, -32768, 32766},
    };
    for (const auto& c : cases) {
        double cx = 0, cy = 0;
        wn_center(c.w, &cx, &cy);
        int16_t icx = 0, icy = 0;
        wn_center_int(c.w, &icx, &icy);
        EXPECT_EQ(cx, c.cx) << testing::PrintToString(c.w);
        EXPECT_EQ(cy, c.cy) << testing::PrintToString(c.w);
        EXPECT_EQ(icx, c.icx) << testing::PrintToString(c.w);
        EXPECT_EQ(icy, c.icy) << testing::PrintToString(c.w);
    }
}

TEST(WnAlign4, WidensOutwardToMultiplesOfFour) {
    const struct {
        window w;
        int axes;
        window aligned;
    } cases[] = {
        {{5, 6, 10, 3}, WN_HORIZONTAL, {4, 6, 12, 3}},
        {{5, 6, 10, 3}, WN_VERTICAL, {5, 4, 10, 8}},
        {{5, 6, 10, 3}, WN_HORIZONTAL | WN_VERTICAL, {4, 4, 12, 8}},
        {{8, 4, 4, 8}, WN_HORIZONTAL | WN_VERTICAL, {8, 4, 4, 8}},  // already aligned
        {{-3, 0, 2, 1}, WN_HORIZONTAL, {-4, 0, 4, 1}},
    };
    for (const auto& c : cases) {
        window w = c.w;
        wn_align4(&w, c.axes);
        EXPECT_EQ(w, c.aligned) << testing::PrintToString(c.w) << " axes " << c.axes;
    }
}

TEST(WnIsProper, RightAndBottomWithinSixteenBits) {
    const struct {
        window w;
        bool proper;
    } cases[] = {
        {{0, 0, 640, 480}, true},
        {{32767, 32767, 1, 1}, true},
        {{32767, 0, 2, 1}, false},  // right column 32768
        {{0, 32000, 1, 769}, false},  // bottom row 32768
        {{5, 5, -1, 1}, false},
        {{5, 5, 1, -1}, false},
        {{5, 5, 0, 0}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(wn_is_proper(c.w), c.proper) << testing::PrintToString(c.w);
}

}  // namespace
}  // namespace spinmap
