// The rotation run: read, check, rotate, trim, rotate the fiducials, write.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "app.h"
#include "platform/platform.h"
#include "transform/transform.h"

namespace spinmap {

namespace {

constexpr int KEY_WIDTH = 20;

// matrix_rotate modes of the run: all with the camera frame as output window
// and the run's own pivot.
constexpr int MODE_AUTOMATIC = ROT_WIN_GIVEN;
constexpr int MODE_INTERPOLATE = ROT_INTERP | ROT_WIN_GIVEN;
constexpr int MODE_MOVE_VALUES = ROT_NO_INTERP | ROT_WIN_GIVEN;

// Releases the run's matrices on every way out.
struct run_matrices {
    intensity_matrix intensity{};
    height_matrix height{};
    run_matrices() {
        matrix_clear(&intensity);
        matrix_clear(&height);
    }
    ~run_matrices() {
        matrix_free(&height);
        matrix_free(&intensity);
    }
    run_matrices(const run_matrices&) = delete;
    run_matrices& operator=(const run_matrices&) = delete;
};

// Prints "Spinmap", then "ERROR: " and the message, to standard error.
bool fail(const char* format, ...) {
    std::fprintf(stderr, "%s\nERROR: ", TOOL_NAME);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
    return false;
}

bool fail_with_code(int code) { return fail("%s\n", error_name(code)); }

// ---- Verbose report ----------------------------------------------------------

void report_path(const char* key, std::string_view path) {
    std::printf("%-*s = \"%s\"\n", KEY_WIDTH, key, std::string(path).c_str());
}
void report_int(const char* key, int value) { std::printf("%-*s = %d\n", KEY_WIDTH, key, value); }
void report_number(const char* key, double value) { std::printf("%-*s = %g\n", KEY_WIDTH, key, value); }
void report_word(const char* key, const char* word) { std::printf("%-*s = %s\n", KEY_WIDTH, key, word); }

// The calendar form with its own line end, or "invalid time" for a time the
// platform cannot convert (negative times included).
std::string time_text(int64_t seconds) {
    const std::optional<std::string> text = u_calendar_text(seconds);
    return text ? *text : std::string("invalid time\n");
}

void report_time(const char* key, int64_t seconds) {
    std::printf("%-*s = %s", KEY_WIDTH, key, time_text(seconds).c_str());
}

void report_window(const char* prefix, const window& w, int32_t points) {
    const std::string p(prefix);
    report_int((p + " WindowX").c_str(), w.x);
    report_int((p + " WindowY").c_str(), w.y);
    report_int((p + " WindowWidth").c_str(), w.width);
    report_int((p + " WindowHeight").c_str(), w.height);
    report_int((p + " Points").c_str(), points);
}

const char* phase_resolution_name(int16_t code) {
    if (code == 0) return "Normal";
    if (code == 1) return "High";
    return "Super";
}

double counts_per_fringe(int16_t code) {
    if (code == 0) return 4096;
    if (code == 1) return 32768;
    return 131072;
}

void report_attributes(const HeaderRecord& h) {
    // Header values are single precision, widened before scaling.
    report_time("TimeStamp", h.TimeStamp);
    report_int("CameraWidth", h.CameraWidth);
    report_int("CameraHeight", h.CameraHeight);
    std::printf("%-*s = %g um\n", KEY_WIDTH, "PixelWidth", static_cast<double>(h.PixelWidth) * 1e6);
    std::printf("%-*s = %g um\n", KEY_WIDTH, "PixelHeight", static_cast<double>(h.PixelHeight) * 1e6);
    std::printf("%-*s = %g um\n", KEY_WIDTH, "CameraRes", static_cast<double>(h.CameraRes) * 1e6);
    report_number("IntfScaleFactor", static_cast<double>(h.IntfScaleFactor));
    std::printf("%-*s = %g nm\n", KEY_WIDTH, "WavelengthIn", static_cast<double>(h.WavelengthIn) * 1e9);
    report_number("ObliquityFactor", static_cast<double>(h.ObliquityFactor));
    report_word("PhaseRes", phase_resolution_name(h.PhaseRes));
    std::printf("%-*s = 1/%g fr\n", KEY_WIDTH, "PryxRes", counts_per_fringe(h.PhaseRes));
    std::printf("\n");
}

// ---- Mode decision -------------------------------------------------------------

// Fraction of a pivot coordinate, compared by magnitude so that -0.5 and 0.5
// both count as half and -1 and 0 both as whole.
double fraction(double p) { return std::fabs(std::fmod(p, 1.0)); }

bool on_half_pixels(double p) { return std::fmod(p, 0.5) == 0; }

enum class mode_result { ok, angle_not_quarter, pivot_not_half };

// Chooses the matrix_rotate mode; under NoInterp it may move the pivot half a
// pixel so that both coordinates are whole or both half.
mode_result decide_mode(double angle, bool no_interp, double* px, double* py, int* mode) {
    if (std::fmod(angle, 90.0) != 0) {
        if (no_interp) return mode_result::angle_not_quarter;
        *mode = MODE_INTERPOLATE;
        return mode_result::ok;
    }
    if (no_interp) {
        if (!on_half_pixels(*px) || !on_half_pixels(*py)) return mode_result::pivot_not_half;
        if (fraction(*px) != fraction(*py)) {
            if (fraction(*px) == 0.5) {
                *px += 0.5;
            } else {
                *py += 0.5;
            }
        }
        *mode = MODE_MOVE_VALUES;
        return mode_result::ok;
    }
    if (std::fmod(angle, 180.0) == 0) {
        *mode = MODE_AUTOMATIC;
    } else if (on_half_pixels(*px) && on_half_pixels(*py) && fraction(*px) == fraction(*py)) {
        *mode = MODE_AUTOMATIC;
    } else {
        *mode = MODE_INTERPOLATE;
    }
    return mode_result::ok;
}

// ---- Output --------------------------------------------------------------------

// Writes the output through a temporary that replaces the target only when
// complete, so a failed write leaves every existing file as it was. An output
// that is the input itself (the one-file form, or another name for it) is the
// only copy of the measurement, so its replacement must survive a crash too.
int write_output(std::string_view input_path, std::string_view path, const InfoBlock& info,
                 const HeaderRecord& header, const intensity_matrix& intensity, const height_matrix& height) {
    output_file out;
    if (!u_output_open(path, &out, u_names_same_file(input_path, path))) return ERR_CANT_CREATE_FILE;
    const int code = write_data_stream(out.stream, &info, &header, &intensity, &height);
    if (code != 0) {
        u_output_discard(&out);
        return code;
    }
    return u_output_commit(&out) ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace

bool run_rotation(std::string_view input_path, std::string_view output_path, double pivot_x, double pivot_y,
                  double angle, bool no_interp) {
    if (verbose) {
        report_path("InputFile", input_path);
        report_path("OutputFile", output_path);
    }

    InfoBlock info{};
    HeaderRecord header{};
    run_matrices data;
    height_matrix& height = data.height;
    intensity_matrix& intensity = data.intensity;

    int code = read_data_file(input_path, &info, &header, &intensity, &height);
    if (code != 0) return fail("Error reading input data file: %s\n", error_name(code));

    std::string message;
    code = check_data_attributes(&header, &intensity, &height, true, &message);
    if (code != 0) return fail("Invalid attribute information in input data file\n%s\n", message.c_str());

    if (height.matrix == nullptr) return fail("Input data file contains no height data\n");

    window input_window{};
    code = matrix_valid_window(&height, nullptr, &input_window);
    if (code == ERR_ALL_BAD_DATA) return fail("Input data file contains no valid height points\n");
    if (code != 0) return fail_with_code(code);

    int32_t points = 0;
    code = matrix_count_valid(&height, nullptr, &points);
    if (code != 0) return fail_with_code(code);

    if (verbose) {
        report_attributes(header);
        report_window("Input", input_window, points);
    }

    if (pivot_x == NO_PIVOT || pivot_y == NO_PIVOT) wn_center(input_window, &pivot_x, &pivot_y);

    if (verbose) {
        std::printf("\n");
        report_number("Angle", angle);
    }

    int mode = MODE_AUTOMATIC;
    switch (decide_mode(angle, no_interp, &pivot_x, &pivot_y, &mode)) {
        case mode_result::angle_not_quarter:
            return fail("The NoInterp option is disallowed because the rotation angle is not a multiple of 90\n");
        case mode_result::pivot_not_half:
            return fail("The NoInterp option is disallowed because a pivot coordinate is not a multiple of 0.5\n");
        case mode_result::ok:
            break;
    }

    if (verbose) {
        std::printf("\n");
        report_number("PivotX", pivot_x);
        report_number("PivotY", pivot_y);
    }

    const window camera_frame{0, 0, header.CameraWidth, header.CameraHeight};
    code = matrix_rotate(&height, &camera_frame, &pivot_x, &pivot_y, angle, mode);
    if (code != 0) return fail_with_code(code);

    code = matrix_trim(&height);
    if (code == ERR_ALL_BAD_DATA) return fail("Result contains no valid data\n");
    if (code != 0) return fail_with_code(code);

    code = matrix_count_valid(&height, nullptr, &points);
    if (code != 0) return fail_with_code(code);

    if (verbose) {
        std::printf("\n");
        report_window("Output", height.window, points);
        std::printf("\n");
    }

    rotate_fiducials(&header, pivot_x, pivot_y, angle);

    code = write_output(input_path, output_path, info, header, intensity, height);
    if (code != 0) return fail("Error writing output data file: %s\n", error_name(code));

    if (verbose) {
        std::printf("\n");
        std::printf("Wrote file \"%s\"\n", std::string(output_path).c_str());
        std::printf("%s", time_text(u_time_now()).c_str());
        std::printf("\n");
    }
    std::fflush(stdout);
    return true;
}

}  // namespace spinmap
