// The rotation plan: how the tool and matrix_rotate rotate by an angle about
// a pivot, and where their rules differ.
#include <gtest/gtest.h>

#include <cmath>

#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

constexpr auto TOOL = rotation_rule::tool;
constexpr auto LIBRARY = rotation_rule::library;
constexpr auto AUTO = rotation_choice::automatic;
constexpr auto NO_INTERP = rotation_choice::no_interp;
constexpr auto INTERP = rotation_choice::interpolate;
constexpr auto SAME = rotation_method::unchanged;
constexpr auto MOVE = rotation_method::move_values;
constexpr auto RESAMPLE = rotation_method::interpolate;
constexpr auto REFUSED = rotation_method::refused;
constexpr auto NONE = rotation_refusal::none;

TEST(PlanRotation, WholeAndHalfPixelsAndQuarterTurnsByEitherRule) {
    const struct {
        rotation_rule rule;
        rotation_choice choice;
        double angle, px, py;
        rotation_method method;
        rotation_refusal refusal;
        double to_x, to_y;  // the pivot after any adjustment
        double turn;
    } cases[] = {
        // Moved values: quarter and half turns about whole or half pivots.
        {TOOL, AUTO, 90, 10, 20, MOVE, NONE, 10, 20, 90},
        {TOOL, AUTO, 270, 10.5, 20.5, MOVE, NONE, 10.5, 20.5, -90},
        {TOOL, AUTO, -180, 10, 20.5, MOVE, NONE, 10, 20.5, 180},
        {TOOL, AUTO, -90, -0.5, 20.5, MOVE, NONE, -0.5, 20.5, -90},
        // Interpolated: other angles, pivots off the half-pixel grid, and
        // (the tool only) a quarter turn about a mixed pivot.
        {TOOL, AUTO, 45, 20, 15.5, RESAMPLE, NONE, 20, 15.5, 45},
        {TOOL, AUTO, 180, 10.25, 3, RESAMPLE, NONE, 10.25, 3, 180},
        {TOOL, AUTO, 90, 10.25, 3, RESAMPLE, NONE, 10.25, 3, 90},
        {TOOL, AUTO, 90, 10, 20.5, RESAMPLE, NONE, 10, 20.5, 90},
        {LIBRARY, AUTO, 90, 10, 20.5, MOVE, NONE, 10, 20.5, 90},
        {LIBRARY, INTERP, 90, 10, 20, RESAMPLE, NONE, 10, 20, 90},
        {TOOL, AUTO, NAN, 10, 20, RESAMPLE, NONE, 10, 20, NAN},
        // Whole turns leave the data as they are.
        {TOOL, AUTO, -720, 10.25, 3, SAME, NONE, 10.25, 3, 0},
        {LIBRARY, NO_INTERP, 360, 10.25, 3, SAME, NONE, 10.25, 3, 0},
        // No interpolation: the tool raises the half coordinate of a mixed
        // pivot, whole turns included, and refuses what cannot move values.
        {TOOL, NO_INTERP, 90, 10, 20.5, MOVE, NONE, 10, 21, 90},
        {TOOL, NO_INTERP, 180, 10.5, 20, MOVE, NONE, 11, 20, 180},
        {TOOL, NO_INTERP, 90, -0.5, 20, MOVE, NONE, 0, 20, 90},
        {TOOL, NO_INTERP, 360, 10, 20.5, SAME, NONE, 10, 21, 0},
        {TOOL, NO_INTERP, 45, 10, 20, REFUSED, rotation_refusal::angle_not_quarter, 10, 20, 0},
        {TOOL, NO_INTERP, 90, 10.25, 3, REFUSED, rotation_refusal::pivot_not_half, 10.25, 3, 0},
        {TOOL, NO_INTERP, 0, 10.25, 3, REFUSED, rotation_refusal::pivot_not_half, 10.25, 3, 0},
        {LIBRARY, NO_INTERP, NAN, 10, 20, REFUSED, rotation_refusal::angle_not_quarter, 10, 20, 0},
        // The library checks only the angle and never moves a given pivot.
        {LIBRARY, NO_INTERP, 90, 10.25, 3, RESAMPLE, NONE, 10.25, 3, 90},
        {LIBRARY, NO_INTERP, 90, 10, 20.5, MOVE, NONE, 10, 20.5, 90},
    };
    for (const auto& c : cases) {
        const rotation_plan plan = plan_rotation({c.angle, c.px, c.py, c.choice, c.rule, false});
        const std::string label = std::string(c.rule == TOOL ? "tool " : "library ") + std::to_string(c.angle) +
                                  " about " + std::to_string(c.px) + ", " + std::to_string(c.py) +
                                  (c.choice == NO_INTERP ? " no-interp" : "");
        EXPECT_EQ(plan.method, c.method) << label;
        EXPECT_EQ(plan.refusal, c.refusal) << label;
        EXPECT_EQ(plan.pivot_x, c.to_x) << label;
        EXPECT_EQ(plan.pivot_y, c.to_y) << label;
        EXPECT_EQ(plan.pivot_adjusted, c.to_x != c.px || c.to_y != c.py) << label;
        if (c.method == MOVE || c.method == RESAMPLE) {
            EXPECT_TRUE(plan.turn == c.turn || (std::isnan(plan.turn) && std::isnan(c.turn))) << label;
        }
    }
}

TEST(PlanRotation, TheLibraryMovesAComputedCentresXUnlessItInterpolates) {
    const struct {
        rotation_choice choice;
        double px, py, to_x;
    } cases[] = {
        {AUTO, 2.5, 3, 3},  {NO_INTERP, 3, 3.5, 2.5}, {AUTO, -2, 0.5, -2.5},
        {AUTO, -2.5, 0.5, -2.5}, {INTERP, 2.5, 3, 2.5},
    };
    for (const auto& c : cases) {
        const rotation_plan plan = plan_rotation({90, c.px, c.py, c.choice, LIBRARY, true});
        EXPECT_EQ(plan.pivot_x, c.to_x) << c.px << ", " << c.py;
        EXPECT_EQ(plan.pivot_y, c.py) << c.px << ", " << c.py;
        EXPECT_EQ(plan.method, c.choice == INTERP ? RESAMPLE : MOVE) << c.px << ", " << c.py;
    }
}

}  // namespace
}  // namespace spinmap
