// Interpolating resampling: the least-squares plane through four neighbours,
// evaluated at every inverse-rotated result point.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include <spinmap/transform/interp_lanes.h>
#include <spinmap/transform/transform.h>
#include "transform_test_support.h"

namespace spinmap::test {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct pixel_value {
    int x, y;
    int32_t value;
};

// A 5 x 6 source holding x + 1000 y, with some pixels overridden; the 2 x 2
// block of the cases below starts at column 2, row 3.
std::vector<int32_t> source_with(std::initializer_list<pixel_value> overrides) {
    std::vector<int32_t> v = coordinate_raster({0, 0, 5, 6});
    for (const pixel_value& p : overrides) v[p.y * 5 + p.x] = p.value;
    return v;
}

int32_t interp_at(const owned_matrix& source, double a, double b) {
    std::vector<int32_t*> rows(source.m.window.height);
    matrix_rows(&source.m, nullptr, rows.data());
    int32_t value = 0;
    matrix_interp_point(rows.data(), a, b, source.m.window, &value);
    return value;
}

TEST(MatrixInterpPoint, EvaluatesThePlaneThroughTheFourNeighbours) {
    const int32_t big = 2147483000, top = 2147483639, low = -2147483647 - 1;
    const struct {
        const char* name;
        double a, b;
        std::vector<int32_t> source;
        int32_t expected;
    } cases[] = {
        {"a pixel centre gives the element", 2, 3, source_with({}), 3002},
        {"the last pixel centre is inside", 4, 5, source_with({}), 5004},
        {"halfway along a row, 1 and 2", 2.5, 3, source_with({{2, 3, 1}, {3, 3, 2}}), 2},
        {"halfway along a row, -1 and -2", 2.5, 3, source_with({{2, 3, -1}, {3, 3, -2}}), -2},
        {"halfway down a column, 10 and 21", 2, 3.5, source_with({{2, 3, 10}, {2, 4, 21}}), 16},
        {"block centre, mean 2.5", 2.5, 3.5, source_with({{2, 3, 1}, {3, 3, 2}, {2, 4, 3}, {3, 4, 4}}), 3},
        {"block centre, mean -2.5", 2.5, 3.5, source_with({{2, 3, -1}, {3, 3, -2}, {2, 4, -3}, {3, 4, -4}}), -3},
        {"plane, not bilinear (which gives 6.25)", 2.25, 3.25,
         source_with({{2, 3, 0}, {3, 3, 0}, {2, 4, 0}, {3, 4, 100}}), 0},
        {"one invalid neighbour of tiny weight", 2.0001, 3, source_with({{3, 3, NV}}), NV},
        {"any value from INVALID_HEIGHT up is invalid", 2, 3.9999, source_with({{2, 3, NV + 7}}), NV},
        {"left of the first centre", -0.0001, 3, source_with({}), NV},
        {"above the first centre", 2, -0.0001, source_with({}), NV},
        {"right of the last centre", 4.0001, 3, source_with({}), NV},
        {"below the last centre", 2, 5.0001, source_with({}), NV},
        {"NaN", NaN, 3, source_with({}), NV},
        {"too large for an index", 1e300, 3, source_with({}), NV},
        {"minus infinity", 2, -INFINITY, source_with({}), NV},
        {"four huge neighbours", 2.5, 3.5, source_with({{2, 3, big}, {3, 3, big}, {2, 4, big}, {3, 4, big}}), big},
        {"four largest valid", 2.5, 3.5, source_with({{2, 3, top}, {3, 3, top}, {2, 4, top}, {3, 4, top}}), top},
        {"four smallest", 2.5, 3.5, source_with({{2, 3, low}, {3, 3, low}, {2, 4, low}, {3, 4, low}}), low},
        {"plane rising past INVALID_HEIGHT", 2.9999, 3.9999,
         source_with({{2, 3, 0}, {3, 3, big}, {2, 4, big}, {3, 4, big}}), NV},
        {"plane between INVALID_HEIGHT and the 32-bit top", 2.0001, 3.0001,
         source_with({{2, 3, top}, {3, 3, top}, {2, 4, top}, {3, 4, top - 16}}), NV},
        {"plane falling below the 32-bit range", 2.9999, 3.9999,
         source_with({{2, 3, 0}, {3, 3, low}, {2, 4, low}, {3, 4, low}}), NV},
    };
    for (const auto& c : cases) {
        owned_matrix source({0, 0, 5, 6}, c.source);
        EXPECT_EQ(interp_at(source, c.a, c.b), c.expected) << c.name;
    }
}

TEST(MatrixResampleInterp, GivesAllInvalidWhereNoValueCanBeHad) {
    const window source_window{0, 0, 6, 5};
    const struct {
        const char* name;
        std::vector<int32_t> source;
        window result_window;
        double px, py, angle;
    } cases[] = {
        {"all-invalid source", std::vector<int32_t>(30, NV), {0, 0, 6, 5}, 2.5, 2, 33},
        {"result window beyond the turned source", coordinate_raster(source_window), {100, 100, 4, 4}, 2.5, 2, 33},
        {"pivot 1e30", coordinate_raster(source_window), {0, 0, 6, 5}, 1e30, 1e30, 45},
        {"pivot -1e30", coordinate_raster(source_window), {0, 0, 6, 5}, -1e30, 2, 180},
        {"NaN pivot", coordinate_raster(source_window), {0, 0, 6, 5}, 2, NaN, 90},
        {"infinite pivot", coordinate_raster(source_window), {0, 0, 6, 5}, INFINITY, 2, 10},
        {"NaN angle", coordinate_raster(source_window), {0, 0, 6, 5}, 2, 2, NaN},
    };
    for (const auto& c : cases) {
        owned_matrix source(source_window, c.source);
        owned_matrix result(c.result_window, 0);
        EXPECT_EQ(matrix_resample_interp(&source.m, &result.m, c.px, c.py, c.angle), 0) << c.name;
        EXPECT_EQ(result.values(), std::vector<int32_t>(result.values().size(), NV)) << c.name;
    }
}

TEST(MatrixResampleInterp, AngleZeroCopiesTheOverlap) {
    owned_matrix source({1, 1, 3, 2}, coordinate_raster({1, 1, 3, 2}));
    owned_matrix result({0, 0, 4, 3}, 0);
    EXPECT_EQ(matrix_resample_interp(&source.m, &result.m, 2, 1, 0), 0);
    EXPECT_EQ(result.values(), (std::vector<int32_t>{NV, NV, NV, NV,  //
                                                     NV, 1001, 1002, 1003,  //
                                                     NV, 2001, 2002, 2003}));
}

TEST(MatrixResampleInterp, RefusesBadArgumentsBeforeWritingAnything) {
    owned_matrix source({0, 0, 3, 1}, {11, 12, 13});
    owned_matrix result({0, 0, 3, 3}, NV);
    owned_matrix too_far({32000, 0, 800, 1}, NV);
    height_matrix no_array = source.m;
    no_array.matrix = nullptr;
    height_matrix short_array = source.m;
    short_array.size = 2;
    EXPECT_EQ(matrix_resample_interp(nullptr, &result.m, 1, 1, 30), ERR_INVALID_PARAM);
    EXPECT_EQ(matrix_resample_interp(&source.m, nullptr, 1, 1, 30), ERR_INVALID_PARAM);
    EXPECT_EQ(matrix_resample_interp(&no_array, &result.m, 1, 1, 30), ERR_INVALID_PARAM);
    EXPECT_EQ(matrix_resample_interp(&short_array, &result.m, 1, 1, 30), ERR_INVALID_PARAM);
    EXPECT_EQ(matrix_resample_interp(&source.m, &too_far.m, 1, 1, 30), ERR_IMPROPER_WINDOW);
    for (const int successful_calls : {0, 1}) {
        allocation_hooks scope(allocation_hooks::failing_from{successful_calls + 1});
        EXPECT_EQ(matrix_resample_interp(&source.m, &result.m, 1, 1, 30), ERR_NO_MEM);
        EXPECT_EQ(scope.log().live.size(), 0u);
    }
    EXPECT_EQ(result.values(), std::vector<int32_t>(9, NV));
    EXPECT_EQ(too_far.values(), std::vector<int32_t>(800, NV));
}

TEST(MatrixResampleInterp, PropertyATurnedPlaneKeepsItsValuesWithinOneUnit) {
    const window source_window{3, 4, 40, 30};
    std::vector<int32_t> plane;
    for (int y = 4; y < 34; ++y)
        for (int x = 3; x < 43; ++x) plane.push_back(37 * x - 11 * y + 5000);
    owned_matrix source(source_window, plane);
    const struct {
        double px, py;
    } pivots[] = {{20.3, 17.8}, {0, 0}, {25, 20}, {-7.5, 21.25}};
    for (const auto& p : pivots) {
        for (const double angle : {1.0, 17.3, 45.0, 90.0, 123.4, -60.0, 179.9, -179.0}) {
            owned_matrix result({-60, -60, 160, 160}, 0);
            ASSERT_EQ(matrix_resample_interp(&source.m, &result.m, p.px, p.py, angle), 0);
            const double theta = angle / 57.2957795131, s = rounded_sin(theta), c = rounded_cos(theta);
            int inside = 0;
            for (int Y = -60; Y < 100; ++Y) {
                for (int X = -60; X < 100; ++X) {
                    const double a = c * (X - p.px) - s * (Y - p.py) + p.px - 3;
                    const double b = s * (X - p.px) + c * (Y - p.py) + p.py - 4;
                    const int32_t got = result.at(X, Y);
                    if (a < 0 || a > 39 || b < 0 || b > 29) {
                        EXPECT_EQ(got, NV) << angle << " at " << X << ", " << Y;
                        continue;
                    }
                    ++inside;
                    EXPECT_NEAR(got, 37 * (a + 3) - 11 * (b + 4) + 5000, 1.0) << angle << " at " << X << ", " << Y;
                }
            }
            EXPECT_GT(inside, 0) << angle;
        }
    }
}

// Every row kernel variant in turn, not only the one this processor picks,
// each on 1, 2, 3 and 7 threads (whose bands divide no frame below evenly);
// a variant the build or the processor lacks is skipped.
class ResampleLanes : public testing::TestWithParam<std::tuple<interp_lanes, int>> {
protected:
    void SetUp() override {
        if (!has_interp_lanes(lanes())) GTEST_SKIP() << interp_lanes_name(lanes()) << " not available here";
        threads.emplace(std::get<1>(GetParam()));
    }
    std::optional<forced_threads> threads;
    interp_lanes lanes() const { return std::get<0>(GetParam()); }
    int resample(const owned_matrix& source, owned_matrix& result, double px, double py, double angle) {
        return resample_interp_with(lanes(), &source.m, &result.m, px, py, angle);
    }
};

INSTANTIATE_TEST_SUITE_P(EachVariant, ResampleLanes,
                         testing::Combine(testing::Values(interp_lanes::plain, interp_lanes::sse2, interp_lanes::avx2,
                                                          interp_lanes::avx512),
                                          testing::ValuesIn(FORCED_THREAD_COUNTS)),
                         [](const testing::TestParamInfo<std::tuple<interp_lanes, int>>& info) {
                             const interp_lanes lanes = std::get<0>(info.param);
                             return std::string(lanes == interp_lanes::avx512 ? "AVX512" : interp_lanes_name(lanes)) +
                                    "_" + std::to_string(std::get<1>(info.param)) + "threads";
                         });

// Guards the tuning of the kernels: random frames (with invalid points and
// heights near both ends of the range), angles, pivots and windows.
TEST_P(ResampleLanes, MatchesThePlainReferenceBitForBit) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 gen(seed);
        const window source_window{int16_t(int(gen() % 60) - 30), int16_t(int(gen() % 60) - 30),
                                   int16_t(1 + gen() % 70), int16_t(1 + gen() % 70)};
        const window result_window{int16_t(int(gen() % 60) - 30), int16_t(int(gen() % 60) - 30),
                                   int16_t(1 + gen() % 80), int16_t(1 + gen() % 80)};
        const double angle = seed % 5 == 0 ? double(int(gen() % 9) * 90 - 360) : double(gen() % 7200000) / 10000 - 360;
        // Pivots with full mantissas, so that any reassociation shows; every
        // seventh on whole or half pixels.
        double px = gen() / 4294967296.0 * 160 - 80, py = gen() / 4294967296.0 * 160 - 80;
        if (seed % 7 == 0) px = std::round(2 * px) / 2, py = std::round(2 * py) / 2;
        const int32_t span = seed % 3 == 0 ? 2147483647 : 100000;
        owned_matrix source(source_window, random_heights(source_window, seed, 9, span));
        owned_matrix result(result_window, 0);
        owned_matrix expected(result_window, 0);
        ASSERT_EQ(resample(source, result, px, py, angle), 0);
        reference_resample_interp(source.m, expected.m, px, py, angle);
        EXPECT_EQ(result.values(), expected.values()) << "seed " << seed;
    }
}

// Positions on whole columns and rows, on the last column and row, just
// outside the source, sources one or two pixels wide, and result rows of
// every width around the strips, each point checked against the plain
// formula.
TEST_P(ResampleLanes, MatchesThePlainReferenceOnWholePixelsAndNarrowSources) {
    const window sources[] = {{0, 0, 1, 9}, {3, 2, 2, 7}, {0, 0, 3, 3}, {-4, 5, 9, 8}, {10, 10, 70, 3}};
    const struct {
        double px, py, angle;
    } turns[] = {{4, 6, 0},   {4, 6, 90},      {4, 6, -90},  {4.5, 6.5, 180}, {4, 6.5, 90},
                 {4.5, 6, 0}, {3.25, 7, 180},  {5, 5, 1e-9}, {5, 5, 45},      {0, 0, -30}};
    uint32_t seed = 0;
    for (const window& s : sources) {
        for (const auto& turn : turns) {
            for (int16_t width : {1, 2, 3, 63, 64, 65, 67}) {
                const window result_window{int16_t(s.x - 3), int16_t(s.y - 2), width, int16_t(s.height + 4)};
                owned_matrix source(s, random_heights(s, ++seed, 4));
                owned_matrix result(result_window, 0);
                owned_matrix expected(result_window, 0);
                ASSERT_EQ(resample(source, result, turn.px, turn.py, turn.angle), 0);
                reference_resample_interp(source.m, expected.m, turn.px, turn.py, turn.angle);
                EXPECT_EQ(result.values(), expected.values())
                    << "source " << s.width << " x " << s.height << ", angle " << turn.angle << ", width " << width;
            }
        }
    }
}

// Stripes between the two ends of the height range make the plane's value
// move by about 2^32 per pixel, so a position that differs from the plain
// formula's by one unit in the last place changes some rounded results.
TEST_P(ResampleLanes, MatchesThePlainReferenceOnSteepStripes) {
    const window source_window{700, 500, 200, 200}, result_window{660, 460, 280, 280};
    for (const bool columns : {true, false}) {
        std::vector<int32_t> stripes;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x) stripes.push_back(((columns ? x : y) % 2) ? 2147483639 : -2147483647 - 1);
        owned_matrix source(source_window, stripes);
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            std::mt19937 gen(seed);
            const double angle = gen() / 4294967296.0 * 360 - 180;
            const double px = gen() / 4294967296.0 * 200 + 700, py = gen() / 4294967296.0 * 200 + 500;
            owned_matrix result(result_window, 0);
            owned_matrix expected(result_window, 0);
            ASSERT_EQ(resample(source, result, px, py, angle), 0);
            reference_resample_interp(source.m, expected.m, px, py, angle);
            EXPECT_EQ(result.values(), expected.values()) << "seed " << seed;
        }
    }
}

}  // namespace
}  // namespace spinmap::test
