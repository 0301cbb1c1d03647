// The rotation run: read, check, plan, rotate, trim, rotate the fiducials,
// write. Each step prints its own failure and its part of the report.
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "app.h"
#include "cli/cli.h"
#include "platform/platform.h"
#include "transform/transform.h"

namespace spinmap {

namespace {

// What one run holds from reading to writing.
struct run_data {
    InfoBlock info{};
    HeaderRecord header{};
    // The intensity block is passed on unchanged: it stays in the input,
    // which is open until the output is written.
    owned_file input;
    std::optional<file_state> input_state;  // as the input stood when it was opened
    bool input_changed = false;             // found so when the output was written
    carried_intensity intensity;
    owned_height height;
    window input_window{};  // the valid points' before the rotation
    rotation_plan plan{};
    run_losses losses;
};

// Prints "Spinmap", then "ERROR: " and the message, to standard error.
bool fail(const char* format, ...) {
    cli::begin_error(TOOL_NAME);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
    return false;
}

bool fail_with_code(int code) { return fail("%s\n", error_name(code)); }

// ---- Report blocks ---------------------------------------------------------------

// The calendar form with its own line end, or "invalid time" for a time the
// platform cannot convert (negative times included).
std::string time_text(int64_t seconds) {
    const std::optional<std::string> text = u_calendar_text(seconds);
    return text ? *text : std::string("invalid time\n");
}

// The window and the count of valid points in the matrix; only the report
// needs the count, so a run without one does not spend a pass over the frame
// on it.
bool report_window(const run_report& report, const std::string& prefix, const height_matrix& m, const window& w) {
    if (!report.on()) return true;
    int32_t points = 0;
    const int code = matrix_count_valid(&m, nullptr, &points);
    if (code != 0) return fail_with_code(code);
    report.line((prefix + " WindowX").c_str(), "%d\n", w.x);
    report.line((prefix + " WindowY").c_str(), "%d\n", w.y);
    report.line((prefix + " WindowWidth").c_str(), "%d\n", w.width);
    report.line((prefix + " WindowHeight").c_str(), "%d\n", w.height);
    report.line((prefix + " Points").c_str(), "%d\n", points);
    return true;
}

void report_attributes(const run_report& report, const HeaderRecord& h) {
    report.line("TimeStamp", "%s", time_text(h.TimeStamp).c_str());
    for (const attribute_text& a : header_attribute_texts(h)) report.line(a.key, "%s\n", a.value.c_str());
    report.text("\n");
}

// ---- The steps -------------------------------------------------------------------

bool read_input(const run_settings& settings, run_data* d) {
    d->input.reset(u_open_file(settings.input_path, false));
    if (d->input != nullptr) d->input_state = u_file_state(d->input.get());
    const int code = d->input == nullptr ? ERR_CANT_OPEN_FILE
                                         : read_data_carrying_intensity(d->input.get(), &d->info, &d->header,
                                                                        &d->intensity, &d->height);
    if (code != 0) return fail("Error reading input data file: %s\n", error_name(code));
    return true;
}

// The attributes, the height data and its valid points.
bool check_input(run_data* d, const run_report& report) {
    std::string message;
    int code = check_data_attributes(&d->header, d->intensity, &d->height, true, &message);
    if (code != 0) return fail("Invalid attribute information in input data file\n%s\n", message.c_str());
    if (d->height.matrix == nullptr) return fail("Input data file contains no height data\n");
    code = matrix_valid_window(&d->height, nullptr, &d->input_window);
    if (code == ERR_ALL_BAD_DATA) return fail("Input data file contains no valid height points\n");
    if (code != 0) return fail_with_code(code);
    report_attributes(report, d->header);
    return report_window(report, "Input", d->height, d->input_window);
}

// The pivot (by default the centre of the valid points' window) and how the
// rotation is done, by the tool's rule.
bool plan(const run_settings& settings, run_data* d, const run_report& report) {
    double px = settings.pivot_x, py = settings.pivot_y;
    if (px == NO_PIVOT || py == NO_PIVOT) wn_center(d->input_window, &px, &py);
    report.text("\n");
    report.line("Angle", "%g\n", settings.angle);
    const rotation_choice choice = settings.no_interp ? rotation_choice::no_interp : rotation_choice::automatic;
    d->plan = plan_rotation({settings.angle, px, py, choice, rotation_rule::tool, false});
    switch (d->plan.refusal) {
        case rotation_refusal::angle_not_quarter:
            return fail("The NoInterp option is disallowed because the rotation angle is not a multiple of 90\n");
        case rotation_refusal::pivot_not_half:
            return fail("The NoInterp option is disallowed because a pivot coordinate is not a multiple of 0.5\n");
        case rotation_refusal::none:
            break;
    }
    report.text("\n");
    report.line("PivotX", "%g\n", d->plan.pivot_x);
    report.line("PivotY", "%g\n", d->plan.pivot_y);
    return true;
}

// The valid points the rotation will carry off the camera frame, counted
// before it replaces the heights; a run that succeeds warns of them.
bool count_losses(const run_settings& settings, run_data* d) {
    run_losses& losses = d->losses;
    const window camera_frame{0, 0, d->header.CameraWidth, d->header.CameraHeight};
    const int code = matrix_count_outside(&d->height, &d->input_window, camera_frame, d->plan.pivot_x, d->plan.pivot_y,
                                          settings.angle, &losses.points_outside, &losses.valid_points);
    if (code != 0) return fail_with_code(code);
    return true;
}

// By the plan, onto the whole camera frame, whatever window the input had.
bool rotate(run_data* d) {
    const window camera_frame{0, 0, d->header.CameraWidth, d->header.CameraHeight};
    const int code = matrix_rotate_by_plan(&d->height, camera_frame, d->plan);
    if (code != 0) return fail_with_code(code);
    return true;
}

// To the valid points' window, which the report gives.
bool trim(run_data* d, const run_report& report) {
    int code = matrix_trim(&d->height);
    if (code == ERR_ALL_BAD_DATA) return fail("Result contains no valid data\n");
    if (code != 0) return fail_with_code(code);
    report.text("\n");
    if (!report_window(report, "Output", d->height, d->height.window)) return false;
    report.text("\n");
    return true;
}

// True unless the input path names another file now, or the file was
// written, truncated or touched since it was opened. An input whose state
// could not be had when it was opened is taken as it is.
bool input_unchanged(const run_settings& settings, const run_data& d) {
    if (!d.input_state) return true;
    const std::optional<file_state> now = u_file_state(settings.input_path);
    return now && *now == *d.input_state;
}

// Writes the output through a temporary that replaces the target only when
// complete, so a failed write leaves every existing file as it was. An output
// that is the input itself (the one-file form, or another name for it) is the
// only copy of the measurement, so its replacement must survive a crash too.
// The intensity block is copied from the input only now: an input changed
// since it was read would give an output that mixes two states of it (or,
// in the one-file form, replace the newer file), so the output is then
// discarded. The input is closed before the output is committed: Windows
// cannot replace a file that is open.
int write_output(const run_settings& settings, run_data* d) {
    const bool durable = u_names_same_file(settings.input_path, settings.output_path);
    return u_write_output(settings.output_path, durable, [&](std::FILE* stream) {
        int code = write_data_carrying_intensity(stream, &d->info, &d->header, d->intensity, &d->height);
        // A copy that ran out of input comes from a change too, as a rule.
        if ((code == 0 || code == ERR_CORRUPT_DATA_FILE) && !input_unchanged(settings, *d)) {
            d->input_changed = true;
            code = ERR_CORRUPT_DATA_FILE;
        }
        d->intensity.input = nullptr;
        d->input.reset();
        return code;
    });
}

bool write(const run_settings& settings, run_data* d, const run_report& report) {
    const int code = write_output(settings, d);
    if (d->input_changed) return fail("Input data file changed during the run; no output was written\n");
    // Only the copy from the input reports a block that ends early.
    if (code == ERR_CORRUPT_DATA_FILE) return fail("Error reading input data file: %s\n", error_name(code));
    if (code != 0) return fail("Error writing output data file: %s\n", error_name(code));
    report.text("\n");
    report.text("Wrote file \"" + settings.output_path + "\"\n");
    report.text(time_text(u_time_now()));
    report.text("\n");
    return true;
}

}  // namespace

bool run_rotation(const run_settings& settings, run_losses* losses) {
    const run_report report(settings.verbose);
    report.line("InputFile", "\"%s\"\n", settings.input_path.c_str());
    report.line("OutputFile", "\"%s\"\n", settings.output_path.c_str());
    run_data data;
    if (!read_input(settings, &data)) return false;
    if (!check_input(&data, report)) return false;
    if (!plan(settings, &data, report)) return false;
    if (!count_losses(settings, &data)) return false;
    if (!rotate(&data)) return false;
    if (!trim(&data, report)) return false;
    rotate_fiducials(&data.header, data.plan.pivot_x, data.plan.pivot_y, settings.angle, report);
    if (!write(settings, &data, report)) return false;
    std::fflush(stdout);
    if (losses != nullptr) *losses = data.losses;
    return true;
}

}  // namespace spinmap
