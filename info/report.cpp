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
#include "platform/platform.h"
#include "transform/transform.h"

namespace spinmap {

namespace {

constexpr int KEY_WIDTH = 20;

// The key left-justified in 20 characters, " = ", then the value.
__attribute__((format(printf, 2, 3))) void line(const char* key, const char* format, ...) {
    std::printf("%-*s = ", KEY_WIDTH, key);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

// What one file holds; the matrices release themselves.
struct file_data {
    HeaderRecord header{};
    owned_height height;
    owned_intensity intensity;
};

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
    std::printf("%-*s = ", KEY_WIDTH, "InputFile");
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
    if (d.intensity.matrix != nullptr) {
        report_window("Intensity", d.intensity.window);
        line("Intensity Frames", "%d", d.intensity.n_buckets);
    } else {
        line("Intensity Data", "none");
    }
}

// The valid heights; false when there are none (the reason printed).
bool report_valid_heights(const file_data& d, window* valid) {
    std::printf("\n");
    if (d.height.matrix == nullptr) return false;
    height_statistics stats;
    if (matrix_valid_window(&d.height, nullptr, valid) != 0 || measure_heights(d.height, &stats) != 0) {
        line("Valid Points", "0");
        return false;
    }
    report_window("Valid", *valid);
    line("Valid Points", "%lld", static_cast<long long>(stats.count));
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
    const struct {
        const char* key;
        int16_t count;
        const float* coordinates;
    } groups[] = {
        {"Fiducials Group A", h.FiducialCountA, h.FiducialCoordsA},
        {"Fiducials Group B", h.FiducialCountB, h.FiducialCoordsB},
        {"Fiducials Group C", h.FiducialCountC, h.FiducialCoordsC},
        {"Fiducials Group D", h.FiducialCountD, h.FiducialCoordsD},
    };
    bool any = false;
    for (const auto& g : groups) {
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

const char* method_words(rotation_method method) {
    switch (method) {
        case rotation_method::unchanged: return "leaves the heights as they are (whole turns)";
        case rotation_method::move_values: return "moves values exactly";
        case rotation_method::interpolate: return "interpolates";
        case rotation_method::refused: break;
    }
    return "refused";
}

std::string verdict(const rotation_plan& plan) {
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
    return words;
}

// What spinmap would do with the angle: its pivot, and its plan with and
// without -NoInterp. A file without valid heights is refused by spinmap.
void report_rotation(const info_settings& settings, bool has_valid, const window& valid) {
    std::printf("\n");
    line("Angle", "%g", settings.angle);
    if (!has_valid) {
        line("Rotation", "refused: the file holds no valid height points");
        return;
    }
    double px = settings.pivot_x, py = settings.pivot_y;
    const bool given = px != INFO_NO_PIVOT && py != INFO_NO_PIVOT;
    if (!given) wn_center(valid, &px, &py);
    const rotation_plan plan =
        plan_rotation({settings.angle, px, py, rotation_choice::automatic, rotation_rule::tool, false});
    const rotation_plan strict =
        plan_rotation({settings.angle, px, py, rotation_choice::no_interp, rotation_rule::tool, false});
    line("PivotX", "%g", plan.pivot_x);
    line("PivotY", "%g", plan.pivot_y);
    line("Pivot", "%s", given ? "as given" : "centre of the valid points' window");
    line("Rotation", "%s", verdict(plan).c_str());
    line("With NoInterp", "%s", verdict(strict).c_str());
}

}  // namespace

int measure_heights(const height_matrix& height, height_statistics* stats) {
    const window& w = height.window;
    if (height.matrix == nullptr || w.width < 0 || w.height < 0) return ERR_INVALID_PARAM;
    const std::size_t n = static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
    if (n > height.size) return ERR_INVALID_PARAM;
    height_statistics s;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = height.matrix[i];
        if (!is_valid_height(v)) continue;
        if (s.count == 0 || v < s.minimum) s.minimum = v;
        if (s.count == 0 || v > s.maximum) s.maximum = v;
        sum += v;
        ++s.count;
    }
    if (s.count == 0) return ERR_ALL_BAD_DATA;
    s.mean = sum / static_cast<double>(s.count);
    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = height.matrix[i];
        if (!is_valid_height(v)) continue;
        const double d = v - s.mean;
        squares += d * d;
    }
    s.rms = std::sqrt(squares / static_cast<double>(s.count));
    *stats = s;
    return 0;
}

bool report_file(const info_settings& settings, const std::string& path, std::string* message) {
    if (!u_is_regular_file(path)) {
        *message = "Cannot access input data file " + cli::quoted(path);
        return false;
    }
    file_data d;
    int code = read_data_file(path, nullptr, &d.header, &d.intensity, &d.height);
    if (code != 0) {
        *message = "Error reading input data file " + cli::quoted(path) + ": " + error_name(code);
        return false;
    }
    std::string reason;
    code = check_data_attributes(&d.header, &d.intensity, &d.height, true, &reason);
    if (code != 0) {
        *message = "Invalid attribute information in input data file " + cli::quoted(path) + "\n" + reason;
        return false;
    }
    report_header(path, d.header);
    report_data_windows(d);
    window valid{};
    const bool has_valid = report_valid_heights(d, &valid);
    report_fiducials(d.header);
    if (settings.has_angle) report_rotation(settings, has_valid, valid);
    std::fflush(stdout);
    return true;
}

}  // namespace spinmap
