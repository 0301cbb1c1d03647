// Alignment from fiducials: the least-squares rigid motion between paired
// points, written as a turn about a pivot in the tool's sense; and the
// pairing of two headers' fiducial groups that feeds it.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

struct point {
    double x = 0, y = 0;
};

bool finite_pair(const point_pair& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.ref_x) && std::isfinite(p.ref_y);
}

// The largest distance of the points from their centre.
template <typename Coordinates>
double spread(std::span<const point_pair> pairs, point centre, Coordinates coordinates) {
    double largest = 0;
    for (const point_pair& p : pairs) {
        const point q = coordinates(p);
        const double dx = q.x - centre.x, dy = q.y - centre.y;
        largest = std::fmax(largest, std::sqrt(dx * dx + dy * dy));
    }
    return largest;
}

point measured(const point_pair& p) { return {p.x, p.y}; }
point referenced(const point_pair& p) { return {p.ref_x, p.ref_y}; }

rigid_fit refused(rigid_fit fit, alignment_refusal why) {
    fit.refusal = why;
    if (why != alignment_refusal::no_turn) fit.angle = fit.rms = fit.largest = 0;
    fit.pivot_x = fit.pivot_y = 0;
    return fit;
}

// The pivot about which the turn (c, s) is the motion that carries the
// measurement's centre m onto the reference's centre r. With d = r - m it
// is the fixed point (m + r) / 2 + k / 2 (d.y, -d.x), k = cot(turn / 2),
// taken in the form that does not cancel.
point fixed_point(point m, point r, double c, double s) {
    const double k = c >= 0 ? (1 + c) / s : s / (1 - c);
    const double dx = r.x - m.x, dy = r.y - m.y;
    return {(m.x + r.x) / 2 + k * dy / 2, (m.y + r.y) / 2 - k * dx / 2};
}

}  // namespace

rigid_fit fit_rigid_motion(std::span<const point_pair> pairs) {
    rigid_fit fit{};
    fit.pairs = static_cast<int>(pairs.size());
    for (const point_pair& p : pairs) {
        if (!finite_pair(p)) return refused(fit, alignment_refusal::not_finite);
    }
    if (pairs.empty()) return refused(fit, alignment_refusal::too_few_pairs);

    point m, r;
    for (const point_pair& p : pairs) {
        m.x += p.x;
        m.y += p.y;
        r.x += p.ref_x;
        r.y += p.ref_y;
    }
    const double n = static_cast<double>(pairs.size());
    m = {m.x / n, m.y / n};
    r = {r.x / n, r.y / n};
    fit.shift_x = r.x - m.x;
    fit.shift_y = r.y - m.y;
    if (pairs.size() < 2) return refused(fit, alignment_refusal::too_few_pairs);

    const double measurement_spread = spread(pairs, m, measured);
    if (measurement_spread < ALIGNMENT_TOLERANCE_PIXELS) {
        return refused(fit, alignment_refusal::measurement_at_one_place);
    }
    if (spread(pairs, r, referenced) < ALIGNMENT_TOLERANCE_PIXELS) {
        return refused(fit, alignment_refusal::reference_at_one_place);
    }

    // The tool's turn by t maps a point a about the centre to
    // (c a.x + s a.y, -s a.x + c a.y), c = cos t, s = sin t; the sum of its
    // products with the reference's b is c C + s S, largest at atan2(S, C).
    double C = 0, S = 0;
    for (const point_pair& p : pairs) {
        const double ax = p.x - m.x, ay = p.y - m.y;
        const double bx = p.ref_x - r.x, by = p.ref_y - r.y;
        C += ax * bx + ay * by;
        S += bx * ay - by * ax;
    }
    const double norm = std::sqrt(C * C + S * S);
    if (norm == 0) return refused(fit, alignment_refusal::turn_undetermined);
    const double c = C / norm, s = S / norm;
    // S is summed from +0 and so is never -0: a half turn is +180. Dividing
    // by pi first keeps quarter and half turns whole.
    fit.angle = std::atan2(S, C) / std::numbers::pi * 180;

    double squares = 0;
    for (const point_pair& p : pairs) {
        const double ax = p.x - m.x, ay = p.y - m.y;
        const double ex = p.ref_x - r.x - (c * ax + s * ay);
        const double ey = p.ref_y - r.y - (-s * ax + c * ay);
        const double e2 = ex * ex + ey * ey;
        squares += e2;
        fit.largest = std::fmax(fit.largest, std::sqrt(e2));
    }
    fit.rms = std::sqrt(squares / n);

    const double chord = std::sqrt((1 - c) * (1 - c) + s * s);  // 2 sin(|t| / 2)
    if (chord * measurement_spread < ALIGNMENT_TOLERANCE_PIXELS) return refused(fit, alignment_refusal::no_turn);

    const point pivot = fixed_point(m, r, c, s);
    fit.pivot_x = pivot.x;
    fit.pivot_y = pivot.y;
    if (!(std::fabs(pivot.x) <= FLT_MAX && std::fabs(pivot.y) <= FLT_MAX)) {
        fit.refusal = alignment_refusal::pivot_out_of_range;
    }
    return fit;
}

fiducial_pairs match_fiducials(const HeaderRecord& measurement, const HeaderRecord& reference) {
    const auto mine = fiducial_groups(measurement), theirs = fiducial_groups(reference);
    fiducial_pairs result{};
    for (int g = 0; g < FIDUCIAL_GROUPS; ++g) {
        // A count beyond the room lies outside the format: only the points
        // the group holds are read.
        const int shared = std::min({int{mine[g].count}, int{theirs[g].count}, FIDUCIAL_ROOM});
        for (int i = 0; i < shared; ++i) {
            result.pairs[result.count++] = {mine[g].coordinates[2 * i], mine[g].coordinates[2 * i + 1],
                                            theirs[g].coordinates[2 * i], theirs[g].coordinates[2 * i + 1]};
        }
        result.per_group[g] = std::max(shared, 0);
    }
    return result;
}

fiducial_alignment align_fiducials(const HeaderRecord& measurement, const HeaderRecord& reference) {
    const fiducial_pairs matched = match_fiducials(measurement, reference);
    fiducial_alignment a{};
    a.fit = fit_rigid_motion(std::span(matched.pairs, matched.count));
    std::copy(std::begin(matched.per_group), std::end(matched.per_group), a.per_group);
    const double metres = reference.CameraRes;
    if (std::isfinite(metres) && metres > 0) {
        a.metres_per_pixel = metres;
        a.rms_um = a.fit.rms * metres * 1e6;
        a.largest_um = a.fit.largest * metres * 1e6;
    }
    return a;
}

std::string alignment_refusal_text(const rigid_fit& fit) {
    char text[400] = "";
    switch (fit.refusal) {
        case alignment_refusal::none: break;
        case alignment_refusal::too_few_pairs:
            std::snprintf(text, sizeof text,
                          "%s fiducial of the measurement has a partner of the same group and index in the "
                          "reference; a turn needs two pairs at least",
                          fit.pairs == 0 ? "no" : "only one");
            break;
        case alignment_refusal::not_finite:
            return "a fiducial held in both files has a coordinate that is not a finite number";
        case alignment_refusal::measurement_at_one_place:
        case alignment_refusal::reference_at_one_place:
            std::snprintf(text, sizeof text,
                          "the matched fiducials of the %s all lie at one place (within %g pixel of their centre), "
                          "which shows no turn",
                          fit.refusal == alignment_refusal::reference_at_one_place ? "reference" : "measurement",
                          ALIGNMENT_TOLERANCE_PIXELS);
            break;
        case alignment_refusal::turn_undetermined:
            return "no turn fits the fiducials better than any other: the reference's are not a turned copy of the "
                   "measurement's (a mirror image, say)";
        case alignment_refusal::no_turn:
            if (std::sqrt(fit.shift_x * fit.shift_x + fit.shift_y * fit.shift_y) < ALIGNMENT_TOLERANCE_PIXELS) {
                std::snprintf(text, sizeof text,
                              "the fiducials already lie on the reference's (no turn, and a shift of (%g, %g) "
                              "pixels): there is nothing to turn",
                              fit.shift_x, fit.shift_y);
                break;
            }
            std::snprintf(text, sizeof text,
                          "the fiducials differ by a shift of (%g, %g) pixels and no turn (the fitted turn of %g "
                          "degrees moves none of them by %g pixel), and spinmap only turns",
                          fit.shift_x, fit.shift_y, fit.angle, ALIGNMENT_TOLERANCE_PIXELS);
            break;
        case alignment_refusal::pivot_out_of_range:
            std::snprintf(text, sizeof text,
                          "the pivot (%g, %g) lies beyond the largest coordinate spinmap takes (%g)", fit.pivot_x,
                          fit.pivot_y, static_cast<double>(FLT_MAX));
            break;
    }
    return text;
}

}  // namespace spinmap
