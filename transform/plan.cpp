// The rotation plan: the one place that says how a rotation is done, for the
// tool and for matrix_rotate alike.
#include <cmath>

#include <spinmap/transform/kernel_support.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// The exactness tests compare remainders with 0 exactly, with no tolerance;
// a remainder that is not a number fails them.
bool is_quarter_turn(double angle) { return std::fmod(angle, 90) == 0; }
bool is_half_turn(double angle) { return std::fmod(angle, 180) == 0; }

// Fraction of a pivot coordinate, compared by magnitude so that -0.5 and 0.5
// both count as half and -1 and 0 both as whole.
double fraction(double p) { return std::fabs(std::fmod(p, 1.0)); }

// Brings a remainder in (-360, 360) into (-180, 180]; exact for every such
// remainder.
double normalise_angle(double r) {
    if (r <= -180) return r + 360;
    if (r > 180) return r - 360;
    return r;
}

rotation_plan refusal(const rotation_request& request, rotation_refusal why) {
    return {rotation_method::refused, why, request.pivot_x, request.pivot_y, false, 0};
}

// matrix_rotate's rule. A computed centre is made both whole or both half
// so that a quarter turn about it moves values to their true places: a half
// x is raised by 0.5, a whole x lowered by 0.5.
rotation_plan library_plan(const rotation_request& request) {
    rotation_plan plan{rotation_method::unchanged, rotation_refusal::none, request.pivot_x, request.pivot_y, false, 0};
    const double r = std::fmod(request.angle, 360);
    if (r == 0) return plan;
    plan.turn = normalise_angle(r);
    const bool interpolate = request.choice == rotation_choice::interpolate;
    if (request.choice == rotation_choice::no_interp && !is_quarter_turn(plan.turn)) {
        return refusal(request, rotation_refusal::angle_not_quarter);
    }
    const bool x_whole = std::fmod(plan.pivot_x, 1) == 0, y_whole = std::fmod(plan.pivot_y, 1) == 0;
    if (request.pivot_computed && !interpolate && x_whole != y_whole) {
        plan.pivot_x += x_whole ? -0.5 : 0.5;
        plan.pivot_adjusted = true;
    }
    const bool moves = !interpolate && is_quarter_turn(plan.turn) && on_half_pixels(plan.pivot_x) &&
                       on_half_pixels(plan.pivot_y);
    plan.method = moves ? rotation_method::move_values : rotation_method::interpolate;
    return plan;
}

// The tool's rule settles what it asks of the library's rule, which then
// gives the method. It differs from the library's automatic choice in
// two places, both kept as they are: a quarter turn about a pivot with one
// whole and one half coordinate is interpolated by the tool, while the
// library moves the values (they land half a pixel from the true rotation);
// and under no interpolation the tool refuses a pivot off the half-pixel
// grid and raises the half coordinate of a mixed pivot by 0.5 (whole turns
// included), while the library checks only the angle, never moves a given
// pivot, and moves only a computed centre's x.
rotation_plan tool_plan(const rotation_request& request) {
    const double px = request.pivot_x, py = request.pivot_y;
    rotation_request asked{request.angle, px, py, rotation_choice::interpolate, rotation_rule::library, false};
    bool adjusted = false;
    if (request.choice == rotation_choice::interpolate || !is_quarter_turn(request.angle)) {
        if (request.choice == rotation_choice::no_interp) return refusal(request, rotation_refusal::angle_not_quarter);
    } else if (request.choice == rotation_choice::no_interp) {
        if (!on_half_pixels(px) || !on_half_pixels(py)) return refusal(request, rotation_refusal::pivot_not_half);
        if (fraction(px) != fraction(py)) {
            (fraction(px) == 0.5 ? asked.pivot_x : asked.pivot_y) += 0.5;
            adjusted = true;
        }
        asked.choice = rotation_choice::no_interp;
    } else if (is_half_turn(request.angle) || (on_half_pixels(px) && on_half_pixels(py) && fraction(px) == fraction(py))) {
        asked.choice = rotation_choice::automatic;
    }
    rotation_plan plan = library_plan(asked);
    plan.pivot_adjusted = adjusted;
    return plan;
}

}  // namespace

rotation_plan plan_rotation(const rotation_request& request) {
    return request.rule == rotation_rule::library ? library_plan(request) : tool_plan(request);
}

}  // namespace spinmap
