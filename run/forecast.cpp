// What a run would do with a measurement, worked out on a copy by the run's
// own calls, and the spinmap command line that carries out an alignment.
#include <charconv>
#include <cstdio>
#include <string>

#include <spinmap/run/run.h>

namespace spinmap {

namespace {

const char* method_words(rotation_method method) {
    switch (method) {
        case rotation_method::unchanged: return "leaves the heights as they are (whole turns)";
        case rotation_method::move_values: return "moves values exactly";
        case rotation_method::interpolate: return "interpolates";
        case rotation_method::refused: break;
    }
    return "refused";
}

// What spinmap would do with one file and one plan: the plan carried out on a
// copy of the heights by the same library calls as the run (rotation onto
// the camera frame, trim), so that even an interpolated result is known.
struct prediction {
    int copy_error = 0;  // the copy of the heights could not be made: nothing known
    rotation_run_result run;  // the plan, the points outside, the output window or the run's failure
    int32_t output_points = 0;
};

prediction predict(const HeaderRecord& h, const height_matrix& height, double angle, double px, double py,
                   bool no_interp) {
    prediction p;
    owned_height turned;
    turned.window = height.window;
    p.copy_error = matrix_alloc(&turned);
    if (p.copy_error == 0) p.copy_error = matrix_copy_window(&height, &turned);
    if (p.copy_error != 0) return p;
    HeaderRecord header = h;
    if (rotate_measurement(&header, &turned, angle, px, py, no_interp, report_sink(), &p.run) == 0) {
        matrix_count_valid(&turned, nullptr, &p.output_points);
    }
    return p;
}

// How the run would end, as spinmap words its failures; empty when it would
// succeed (or refuse to plan, which the verdict says).
std::string failure_of(const prediction& p) {
    if (p.copy_error != 0) return std::string("cannot be worked out here: ") + error_name(p.copy_error);
    if (p.run.code == 0 || p.run.plan.refusal != rotation_refusal::none) return "";
    return "then fails with \"" + p.run.message + "\"";
}

// The method, the pivot when it was moved, and a failure or the points lost.
std::string verdict(const prediction& p, bool with_losses) {
    const rotation_plan& plan = p.run.plan;
    if (plan.refusal == rotation_refusal::angle_not_quarter) {
        return "refused: the rotation angle is not a multiple of 90";
    }
    if (plan.refusal == rotation_refusal::pivot_not_half) {
        return "refused: a pivot coordinate is not a multiple of 0.5";
    }
    std::string words = method_words(plan.method);
    if (plan.pivot_adjusted) {
        char pivot[80];
        std::snprintf(pivot, sizeof pivot, " about (%g, %g)", plan.pivot_x, plan.pivot_y);
        words += pivot;
    }
    const std::string failure = failure_of(p);
    if (!failure.empty()) return words + ", " + failure;
    if (with_losses && p.run.points_outside > 0) {
        words += "; " + std::to_string(p.run.points_outside) + " valid points would fall outside the camera frame";
    }
    return words;
}

// The output name the suggested command writes: the input's name with
// "_aligned" before its extension.
std::string aligned_name(const std::string& path) {
    const std::size_t name = path.find_last_of("/\\") + 1;  // 0 without a folder
    const std::size_t dot = path.rfind('.');
    const bool has_extension = dot != std::string::npos && dot > name;
    return has_extension ? path.substr(0, dot) + "_aligned" + path.substr(dot) : path + "_aligned";
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

rotation_forecast forecast_rotation(const HeaderRecord& header, const height_matrix& height, double angle,
                                    double pivot_x, double pivot_y) {
    const prediction run = predict(header, height, angle, pivot_x, pivot_y, false);
    rotation_forecast f;
    f.pivot_given = pivot_given(pivot_x, pivot_y);
    f.pivot_x = run.run.plan.pivot_x;
    f.pivot_y = run.run.plan.pivot_y;
    f.method = run.run.plan.method;
    f.rotation = verdict(run, false);
    f.failure = failure_of(run);
    f.outside = run.run.points_outside;
    f.output = run.run.output_window;
    f.output_points = run.output_points;
    f.with_no_interp = verdict(predict(header, height, angle, pivot_x, pivot_y, true), true);
    return f;
}

std::string shortest_number_text(double v) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, v);
    return std::string(text, end.ptr);
}

std::string alignment_command(const std::string& path, const fiducial_alignment& a) {
    const std::string pivot = shortest_number_text(a.fit.pivot_x) + "," + shortest_number_text(a.fit.pivot_y);
    return "spinmap -Angle " + shortest_number_text(a.fit.angle) + " -Pivot " + pivot + " " + quoted(path) + " " +
           quoted(aligned_name(path));
}

}  // namespace spinmap
