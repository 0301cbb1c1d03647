// The report of one file: header, windows, valid heights, fiducials, and the
// rotation plan for an angle.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/cli.h"
#include "info/info.h"
#include <spinmap/platform/platform.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// The key left-justified in the inspector's key column, " = ", then the value.
__attribute__((format(printf, 2, 3))) void line(const char* key, const char* format, ...) {
    std::printf("%-*s = ", INFO_KEY_WIDTH, key);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

// What one file holds, its intensity frames loaded; the matrices release
// themselves.
using file_data = loaded_measurement;

// A value in file units and, with a scale, in nanometres.
void line_with_nm(const char* key, double units, double nm_per_count) {
    if (nm_per_count > 0) {
        line(key, "%.10g (%g nm)", units, units * nm_per_count);
    } else {
        line(key, "%.10g", units);
    }
}

void report_header(const std::string& path, const HeaderRecord& h) {
    // The name as typed, every character of it (a console shows it through
    // its wide output).
    std::printf("%-*s = ", INFO_KEY_WIDTH, "InputFile");
    u_write_text(stdout, cli::quoted(path) + "\n");
    const std::optional<std::string> time = u_calendar_text(h.TimeStamp);
    // The calendar text ends its own line.
    line("TimeStamp", "%.*s", time ? static_cast<int>(time->size()) - 1 : 12, time ? time->c_str() : "invalid time");
    for (const attribute_text& a : header_attribute_texts(h)) line(a.key, "%s", a.value.c_str());
    const double k = usable_nanometres_per_count(h);
    if (k > 0) {
        line("HeightScale", "%g nm per count", k);
    } else {
        line("HeightScale", "none: heights in file units only");
    }
}

void report_window(const std::string& prefix, const window& w) {
    line((prefix + " WindowX").c_str(), "%d", w.x);
    line((prefix + " WindowY").c_str(), "%d", w.y);
    line((prefix + " WindowWidth").c_str(), "%d", w.width);
    line((prefix + " WindowHeight").c_str(), "%d", w.height);
}

void report_data_windows(const file_data& d) {
    std::printf("\n");
    if (d.height.matrix != nullptr) {
        report_window("Height", d.height.window);
    } else {
        line("Height Data", "none");
    }
    if (d.intensity.frames.matrix != nullptr) {
        report_window("Intensity", d.intensity.frames.window);
        line("Intensity Frames", "%d", d.intensity.frames.n_buckets);
    } else {
        line("Intensity Data", "none");
    }
}

// The valid heights, their window and count; false when there are none (the
// reason printed).
bool report_valid_heights(const file_data& d, window* valid, int32_t* points) {
    std::printf("\n");
    if (d.height.matrix == nullptr) return false;
    height_statistics stats;
    if (matrix_valid_window(&d.height, nullptr, valid) != 0 || measure_heights(d.height, &stats) != 0) {
        line("Valid Points", "0");
        return false;
    }
    report_window("Valid", *valid);
    line("Valid Points", "%lld", static_cast<long long>(stats.count));
    *points = static_cast<int32_t>(stats.count);  // at most 32767 x 32767
    const double k = usable_nanometres_per_count(d.header);
    line_with_nm("Height Minimum", stats.minimum, k);
    line_with_nm("Height Maximum", stats.maximum, k);
    line_with_nm("Height PeakToValley", static_cast<double>(stats.maximum) - stats.minimum, k);
    line_with_nm("Height Mean", stats.mean, k);
    line_with_nm("Height RMS", stats.rms, k);
    return true;
}

void report_fiducials(const HeaderRecord& h) {
    std::printf("\n");
    bool any = false;
    for (const auto& g : fiducial_groups(h)) {
        if (g.count <= 0) continue;
        any = true;
        // A count beyond the group's room lies outside the format: only the
        // points the group holds are shown.
        std::string points = std::to_string(g.count) + (g.count == 1 ? " point:" : " points:");
        if (g.count > FIDUCIAL_ROOM) points += " (only " + std::to_string(FIDUCIAL_ROOM) + " have room)";
        for (int i = 0; i < std::min<int>(g.count, FIDUCIAL_ROOM); ++i) {
            char pair[80];
            std::snprintf(pair, sizeof pair, " (%g, %g)", static_cast<double>(g.coordinates[2 * i]),
                          static_cast<double>(g.coordinates[2 * i + 1]));
            points += pair;
        }
        line(g.key, "%s", points.c_str());
    }
    if (!any) line("Fiducials", "none");
}

// What spinmap would do with the angle: its pivot, its plan, the valid
// points it would turn off the camera frame and the output window, or its
// failure; and what -NoInterp would change. A file without valid heights is
// refused by spinmap.
void report_rotation(const info_settings& settings, const file_data& d, bool has_valid, int32_t valid_points) {
    std::printf("\n");
    line("Angle", "%g", settings.angle);
    if (!has_valid) {
        line("Rotation", "refused: the file holds no valid height points");
        return;
    }
    const rotation_forecast f = forecast_rotation(d.header, d.height, settings.angle, settings.pivot_x,
                                                  settings.pivot_y);
    line("PivotX", "%g", f.pivot_x);
    line("PivotY", "%g", f.pivot_y);
    line("Pivot", "%s", f.pivot_given ? "as given" : "centre of the valid points' window");
    line("Rotation", "%s", f.rotation.c_str());
    line("Points Outside", "%d of %d valid points would fall outside the camera frame", f.outside, valid_points);
    if (f.failure.empty()) {
        report_window("Output", f.output);
        line("Output Points", "%d", f.output_points);
    }
    line("With NoInterp", "%s", f.with_no_interp.c_str());
}

}  // namespace

bool report_file(const info_settings& settings, const std::string& path, std::string* message) {
    file_data d;
    load_failure failure;
    if (load_measurement(path, {intensity_use::load, true, false}, &d, &failure) != 0) {
        *message = cli::unloadable_input(path, failure);
        return false;
    }
    report_header(path, d.header);
    report_data_windows(d);
    window valid{};
    int32_t valid_points = 0;
    const bool has_valid = report_valid_heights(d, &valid, &valid_points);
    report_fiducials(d.header);
    if (settings.has_angle) report_rotation(settings, d, has_valid, valid_points);
    std::fflush(stdout);
    return true;
}

}  // namespace spinmap
