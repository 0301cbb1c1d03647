// Alignment from fiducials: the least-squares turn and pivot between paired
// points, the cases that have none, and the pairing of two headers'
// fiducial groups.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

using refusal = alignment_refusal;

// The points turned by the tool's forward formula about (px, py).
std::vector<point_pair> turned(const std::vector<std::pair<double, double>>& points, double degrees, double px,
                               double py) {
    const double t = degrees * std::numbers::pi / 180, c = std::cos(t), s = std::sin(t);
    std::vector<point_pair> pairs;
    for (auto [x, y] : points) {
        pairs.push_back({x, y, px + c * (x - px) + s * (y - py), py - s * (x - px) + c * (y - py)});
    }
    return pairs;
}

TEST(FitRigidMotion, TurnPivotAndResidualsOrWhyThereAreNone) {
    const struct {
        const char* what;
        std::vector<point_pair> pairs;
        refusal why;
        double angle, pivot_x, pivot_y, rms, largest;
    } cases[] = {
        // +90 about (10, 20) maps (X, Y) to (10 + (Y - 20), 20 - (X - 10)).
        {"quarter turn", {{11, 20, 10, 19}, {10, 23, 13, 20}, {7, 18, 8, 23}}, refusal::none, 90, 10, 20, 0, 0},
        // 180 about (2.5, -4): (X, Y) to (5 - X, -8 - Y), the centres exact.
        {"half turn", {{0, 0, 5, -8}, {4, 2, 1, -10}, {-4, 4, 9, -12}}, refusal::none, 180, 2.5, -4, 0, 0},
        {"-30 degrees", turned({{0, 0}, {300, 10}, {120, 250}, {-40, 60}}, -30, 100, 50), refusal::none, -30, 100,
         50, 0, 0},
        // The reference is the quarter turn about (0, 0) stretched by 1.5:
        // the ends miss by 0.5 each, the middle not at all.
        {"stretched", {{-1, 0, 0, 1.5}, {1, 0, 0, -1.5}, {0, 0, 0, 0}}, refusal::none, 90, 0, 0, std::sqrt(0.5 / 3),
         0.5},
        // A turn of t radians moves the points 1 pixel from the centre by
        // about t pixels: just above the tolerance, and just below.
        {"small turn", turned({{-1, 0}, {1, 0}}, 0.0011 * 180 / std::numbers::pi, 0, 0), refusal::none,
         0.0011 * 180 / std::numbers::pi, 0, 0, 0, 0},
        {"no turn", turned({{-1, 0}, {1, 0}}, 0.0009 * 180 / std::numbers::pi, 0, 0), refusal::no_turn,
         0.0009 * 180 / std::numbers::pi, 0, 0, 0, 0},
        {"one pair", {{1, 2, 3, 4}}, refusal::too_few_pairs, 0, 0, 0, 0, 0},
        {"no pair", {}, refusal::too_few_pairs, 0, 0, 0, 0, 0},
        {"not a number", {{1, 2, 3, 4}, {5, NAN, 7, 8}}, refusal::not_finite, 0, 0, 0, 0, 0},
        {"measurement at one place", {{5, 5, 0, 0}, {5.0004, 5, 9, 9}}, refusal::measurement_at_one_place, 0, 0, 0,
         0, 0},
        {"reference at one place", {{0, 0, 5, 5}, {9, 9, 5, 5.0009}}, refusal::reference_at_one_place, 0, 0, 0, 0,
         0},
        // A mirror image across the x axis: every turn fits equally badly.
        {"mirror image", {{1, 0, 1, 0}, {-1, 0, -1, 0}, {0, 1, 0, -1}, {0, -1, 0, 1}}, refusal::turn_undetermined, 0,
         0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const rigid_fit fit = fit_rigid_motion(c.pairs);
        EXPECT_EQ(fit.refusal, c.why);
        EXPECT_EQ(fit.pairs, static_cast<int>(c.pairs.size()));
        EXPECT_NEAR(fit.angle, c.angle, 1e-12);
        EXPECT_NEAR(fit.pivot_x, c.pivot_x, 1e-9);
        EXPECT_NEAR(fit.pivot_y, c.pivot_y, 1e-9);
        EXPECT_NEAR(fit.rms, c.rms, 1e-12);
        EXPECT_NEAR(fit.largest, c.largest, 1e-12);
    }
}

TEST(FitRigidMotion, APivotBeyondTheFloatRangeIsRefused) {
    // A tiny turn with a shift of 1e35 pixels: the pivot lies near 1e39.
    const std::vector<point_pair> far = turned({{-1e33, 0}, {1e33, 0}}, 1e-2, 0, 1e39);
    const rigid_fit fit = fit_rigid_motion(far);
    EXPECT_EQ(fit.refusal, refusal::pivot_out_of_range);
    EXPECT_NEAR(fit.pivot_y / 1e39, 1, 1e-6);
}

TEST(MatchFiducials, PairsByGroupAndIndexWithinBothCountsAndTheRoom) {
    HeaderRecord measurement{}, reference{};
    for (int i = 0; i < 14; ++i) {
        // Point i of group A at (i, 100 + i) in the measurement and at
        // (-i, -100 - i) in the reference; group B's coordinates 1000 on.
        measurement.FiducialCoordsA[i] = static_cast<float>(i / 2 + (i % 2) * 100);
        reference.FiducialCoordsA[i] = -measurement.FiducialCoordsA[i];
        measurement.FiducialCoordsB[i] = measurement.FiducialCoordsA[i] + 1000;
        reference.FiducialCoordsB[i] = -measurement.FiducialCoordsB[i];
    }
    measurement.FiducialCountA = 2;  // A: 2 of 5 held in both
    reference.FiducialCountA = 5;
    measurement.FiducialCountB = 9;  // B: counts beyond the room of 7
    reference.FiducialCountB = 8;
    measurement.FiducialCountC = -1;  // C: none in the measurement
    reference.FiducialCountC = 4;
    measurement.FiducialCountD = 3;  // D: none in the reference
    const fiducial_pairs matched = match_fiducials(measurement, reference);
    EXPECT_EQ(matched.count, 9);
    EXPECT_EQ(std::vector<int>(matched.per_group, matched.per_group + 4), (std::vector<int>{2, 7, 0, 0}));
    const struct {
        int at;
        point_pair pair;
    } expected[] = {{0, {0, 100, 0, -100}}, {1, {1, 101, -1, -101}}, {2, {1000, 1100, -1000, -1100}},
                    {8, {1006, 1106, -1006, -1106}}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.at);
        EXPECT_EQ(matched.pairs[e.at].x, e.pair.x);
        EXPECT_EQ(matched.pairs[e.at].y, e.pair.y);
        EXPECT_EQ(matched.pairs[e.at].ref_x, e.pair.ref_x);
        EXPECT_EQ(matched.pairs[e.at].ref_y, e.pair.ref_y);
    }
}

}  // namespace
}  // namespace spinmap
