// The rotation run: read, check, plan, count what leaves the frame, rotate,
// trim, rotate the fiducials, write. Each step says why it stopped in the
// tool's words and sends its part of the report to the sink.
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include <spinmap/run/run.h>

namespace spinmap {

namespace {

// The report of a run: keyed lines and text to the sink, when there is one.
class run_report {
public:
    explicit run_report(const report_sink& sink) : sink_(sink) {}
    bool on() const { return static_cast<bool>(sink_); }
    // The value by a printf format (which ends the line itself).
    void line(const char* key, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    void text(std::string_view text) const {
        if (on()) sink_(text);
    }
    const report_sink& sink() const { return sink_; }

private:
    const report_sink& sink_;
};

void run_report::line(const char* key, const char* format, ...) const {
    if (!on()) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string value(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(value.data(), value.size() + 1, format, again);
    va_end(again);
    sink_(report_line(key, value));
}

// Ends the run with the code and the tool's message.
int fail(rotation_run_result* result, int code, std::string message) {
    result->code = code;
    result->message = std::move(message);
    return code;
}

int fail_with_code(rotation_run_result* result, int code) { return fail(result, code, error_name(code)); }

// The calendar form with its own line end, or "invalid time" for a time the
// platform cannot convert (negative times included).
std::string time_text(int64_t seconds) {
    const std::optional<std::string> text = u_calendar_text(seconds);
    return text ? *text : std::string("invalid time\n");
}

// The window and the count of valid points in it, as the report gives them.
void report_counted_window(const run_report& report, const std::string& prefix, const window& w, int32_t points) {
    report.line((prefix + " WindowX").c_str(), "%d\n", w.x);
    report.line((prefix + " WindowY").c_str(), "%d\n", w.y);
    report.line((prefix + " WindowWidth").c_str(), "%d\n", w.width);
    report.line((prefix + " WindowHeight").c_str(), "%d\n", w.height);
    report.line((prefix + " Points").c_str(), "%d\n", points);
}

// The window and the count of valid points in the matrix; only the report
// needs the count, so a run without one does not spend a pass over the frame
// on it.
int report_window(const run_report& report, const std::string& prefix, const height_matrix& m, const window& w,
                  int32_t* points, rotation_run_result* result) {
    if (!report.on()) return 0;
    const int code = matrix_count_valid(&m, nullptr, points);
    if (code != 0) return fail_with_code(result, code);
    report_counted_window(report, prefix, w, *points);
    return 0;
}

void report_attributes(const run_report& report, const HeaderRecord& h) {
    report.line("TimeStamp", "%s", time_text(h.TimeStamp).c_str());
    for (const attribute_text& a : header_attribute_texts(h)) report.line(a.key, "%s\n", a.value.c_str());
    report.text("\n");
}

// ---- The steps on a measurement ---------------------------------------------------

// The height data and its valid points.
int check_heights(const HeaderRecord& header, const height_matrix& height, const run_report& report,
                  rotation_run_result* result) {
    if (height.matrix == nullptr) return fail(result, ERR_ALL_BAD_DATA, "Input data file contains no height data");
    const int code = matrix_valid_window(&height, nullptr, &result->input_window);
    if (code == ERR_ALL_BAD_DATA) return fail(result, code, "Input data file contains no valid height points");
    if (code != 0) return fail_with_code(result, code);
    report_attributes(report, header);
    return report_window(report, "Input", height, result->input_window, &result->points_in, result);
}

// The pivot and how the rotation is done, by the tool's rule.
int plan(double angle, double pivot_x, double pivot_y, bool no_interp, const run_report& report,
         rotation_run_result* result) {
    double px = 0, py = 0;
    choose_pivot(result->input_window, pivot_x, pivot_y, &px, &py);
    report.text("\n");
    report.line("Angle", "%g\n", angle);
    const rotation_choice choice = no_interp ? rotation_choice::no_interp : rotation_choice::automatic;
    result->plan = plan_rotation({angle, px, py, choice, rotation_rule::tool, false});
    switch (result->plan.refusal) {
        case rotation_refusal::angle_not_quarter:
            return fail(result, ERR_INVALID_PARAM,
                        "The NoInterp option is disallowed because the rotation angle is not a multiple of 90");
        case rotation_refusal::pivot_not_half:
            return fail(result, ERR_INVALID_PARAM,
                        "The NoInterp option is disallowed because a pivot coordinate is not a multiple of 0.5");
        case rotation_refusal::none:
            break;
    }
    report.text("\n");
    report.line("PivotX", "%g\n", result->plan.pivot_x);
    report.line("PivotY", "%g\n", result->plan.pivot_y);
    return 0;
}

// The valid points the rotation will carry off the camera frame, counted
// before it replaces the heights.
int count_outside(const HeaderRecord& header, const height_matrix& height, double angle,
                  rotation_run_result* result) {
    const window camera_frame{0, 0, header.CameraWidth, header.CameraHeight};
    int32_t valid = 0;
    const int code = matrix_count_outside(&height, &result->input_window, camera_frame, result->plan.pivot_x,
                                          result->plan.pivot_y, angle, &result->points_outside, &valid);
    if (code != 0) return fail_with_code(result, code);
    if (result->points_outside > 0) result->points_in = valid;
    return 0;
}

// By the plan, onto the whole camera frame, whatever window the input had.
int rotate(const HeaderRecord& header, height_matrix* height, rotation_run_result* result) {
    const window camera_frame{0, 0, header.CameraWidth, header.CameraHeight};
    const int code = matrix_rotate_by_plan(height, camera_frame, result->plan);
    if (code != 0) return fail_with_code(result, code);
    return 0;
}

// To the valid points' window, which the report gives.
int trim(height_matrix* height, const run_report& report, rotation_run_result* result) {
    const int code = matrix_trim(height);
    if (code == ERR_ALL_BAD_DATA) return fail(result, code, "Result contains no valid data");
    if (code != 0) return fail_with_code(result, code);
    result->output_window = height->window;
    report.text("\n");
    if (report_window(report, "Output", *height, height->window, &result->points_out, result) != 0) {
        return result->code;
    }
    report.text("\n");
    return 0;
}

// For a run that only writes the rotated heights: where made_rows_window
// takes them, their window found without rotating the frame and the rows
// prepared to be made as they are written (the report as trim gives it). A
// move that keeps the whole input window on the frame keeps every valid
// point. *taken is false, with nothing done, for any other run: it rotates
// the frame and trims it.
int prepare_rows(const HeaderRecord& header, const height_matrix& height, const run_report& report,
                 rotated_rows* rows, bool* taken, rotation_run_result* result) {
    *taken = false;
    const window camera_frame{0, 0, header.CameraWidth, header.CameraHeight};
    window out{};
    bool made = false;
    const int found = made_rows_window(height, result->input_window, camera_frame, result->plan, report.on(), &out,
                                       &made);
    if (found == ERR_ALL_BAD_DATA) return fail(result, found, "Result contains no valid data");
    if (found != 0) return fail_with_code(result, found);
    if (!made) return 0;
    if (result->plan.method == rotation_method::move_values) result->points_out = result->points_in;
    const int code = rows->prepare(height, result->plan, out);
    if (code != 0) return fail_with_code(result, code);
    *taken = true;
    result->output_window = out;
    report.text("\n");
    if (report.on()) report_counted_window(report, "Output", out, result->points_out);
    report.text("\n");
    return 0;
}

// The run's steps on a measurement. With `rows` (a run that only writes the
// heights), *made tells whether they are left to be made as they are
// written (prepare_rows), the heights as read and the output window in the
// result; otherwise the heights are rotated and trimmed.
int rotate_checked(HeaderRecord* header, height_matrix* height, double angle, double pivot_x, double pivot_y,
                   bool no_interp, const run_report& report, rotation_run_result* result,
                   rotated_rows* rows = nullptr, bool* made = nullptr) {
    if (check_heights(*header, *height, report, result) != 0) return result->code;
    if (plan(angle, pivot_x, pivot_y, no_interp, report, result) != 0) return result->code;
    if (count_outside(*header, *height, angle, result) != 0) return result->code;
    bool taken = false;
    if (rows != nullptr && prepare_rows(*header, *height, report, rows, &taken, result) != 0) return result->code;
    if (made != nullptr) *made = taken;
    if (!taken) {
        if (rotate(*header, height, result) != 0) return result->code;
        if (trim(height, report, result) != 0) return result->code;
    }
    rotate_fiducials(header, result->plan.pivot_x, result->plan.pivot_y, angle, report.sink());
    return 0;
}

// ---- The steps on files ------------------------------------------------------------

int read_input(const rotation_run_settings& settings, loaded_measurement* m, rotation_run_result* result) {
    load_failure failure;
    const int code = load_measurement(settings.input_path, {intensity_use::carry, true, false}, m, &failure);
    switch (failure.step) {
        case load_step::none: return 0;
        case load_step::attributes:
            return fail(result, code, "Invalid attribute information in input data file\n" + failure.reason);
        default: return fail(result, code, std::string("Error reading input data file: ") + error_name(code));
    }
}

// True unless the input path names another file now, or the file was
// written, truncated or touched since it was opened. An input whose state
// could not be had when it was opened is taken as it is.
bool input_unchanged(const rotation_run_settings& settings, const loaded_measurement& m) {
    if (!m.input_state) return true;
    const std::optional<file_state> now = u_file_state(settings.input_path);
    return now && *now == *m.input_state;
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
// With `rows`, the height block's rows are made as they are written, on
// `made_window`.
int write_output(const rotation_run_settings& settings, loaded_measurement* m, rotated_rows* rows,
                 const window& made_window, bool* input_changed) {
    const bool durable = u_names_same_file(settings.input_path, settings.output_path);
    return u_write_output(settings.output_path, durable, [&](std::FILE* stream) {
        int code = rows != nullptr
                       ? write_data_making_heights(stream, &m->info, &m->header, m->intensity, made_window,
                                                   [rows](int first, int count, int32_t* made,
                                                          std::ptrdiff_t pitch) {
                                                       return rows->make(first, count, made, pitch);
                                                   })
                       : write_data_carrying_intensity(stream, &m->info, &m->header, m->intensity, &m->height);
        // A copy that ran out of input comes from a change too, as a rule.
        if ((code == 0 || code == ERR_CORRUPT_DATA_FILE) && !input_unchanged(settings, *m)) {
            *input_changed = true;
            code = ERR_CORRUPT_DATA_FILE;
        }
        m->intensity.input = nullptr;
        m->input.reset();
        return code;
    });
}

int write(const rotation_run_settings& settings, loaded_measurement* m, rotated_rows* rows, const run_report& report,
          rotation_run_result* result) {
    bool input_changed = false;
    const int code = write_output(settings, m, rows, result->output_window, &input_changed);
    if (input_changed) return fail(result, code, "Input data file changed during the run; no output was written");
    // Only the copy from the input reports a block that ends early.
    if (code == ERR_CORRUPT_DATA_FILE) {
        return fail(result, code, std::string("Error reading input data file: ") + error_name(code));
    }
    if (code != 0) return fail(result, code, std::string("Error writing output data file: ") + error_name(code));
    report.text("\n");
    report.text("Wrote file \"" + settings.output_path + "\"\n");
    report.text(time_text(u_time_now()));
    report.text("\n");
    return 0;
}

}  // namespace

void choose_pivot(const window& valid, double pivot_x, double pivot_y, double* x, double* y) {
    *x = pivot_x;
    *y = pivot_y;
    if (!pivot_given(pivot_x, pivot_y)) wn_center(valid, x, y);
}

std::string report_line(std::string_view key, std::string_view value) {
    char key_field[64];
    std::snprintf(key_field, sizeof key_field, "%-*.*s = ", REPORT_KEY_WIDTH, static_cast<int>(key.size()),
                  key.data());
    return key_field + std::string(value);
}

int rotate_measurement(HeaderRecord* header, height_matrix* height, double angle, double pivot_x, double pivot_y,
                       bool no_interp, const report_sink& sink, rotation_run_result* result) {
    *result = rotation_run_result{};
    if (header == nullptr || height == nullptr) return fail_with_code(result, ERR_INVALID_PARAM);
    const run_report report(sink);
    return rotate_checked(header, height, angle, pivot_x, pivot_y, no_interp, report, result);
}

int rotate_data_file(const rotation_run_settings& settings, const report_sink& sink, rotation_run_result* result) {
    *result = rotation_run_result{};
    const report_sink none;
    const run_report report(settings.report ? sink : none);
    report.line("InputFile", "\"%s\"\n", settings.input_path.c_str());
    report.line("OutputFile", "\"%s\"\n", settings.output_path.c_str());
    loaded_measurement m;
    if (read_input(settings, &m, result) != 0) return result->code;
    // The rotated heights are only written: where it can, the run makes
    // their rows as they go out instead of rotating the frame first.
    rotated_rows rows;
    bool made = false;
    if (rotate_checked(&m.header, &m.height, settings.angle, settings.pivot_x, settings.pivot_y, settings.no_interp,
                       report, result, &rows, &made) != 0) {
        return result->code;
    }
    return write(settings, &m, made ? &rows : nullptr, report, result);
}

}  // namespace spinmap
