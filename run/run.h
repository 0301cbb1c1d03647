// The rotation run as one operation of the data library: read a data file,
// check it, plan, count the valid points the rotation turns off the camera
// frame, rotate the heights onto the camera frame, trim them, rotate the
// fiducials, write the result. It prints nothing: the report's text goes to
// the caller's sink as the run goes, and a failure comes back as its error
// code with the message the spinmap tool prints after "ERROR: ".
//
// Also here, so that every caller decides them alike: the default pivot, the
// report's key column, the loader that reads and checks a measurement and
// says which step failed, what a run would do with a measurement (worked out
// on a copy) and the command line that carries out an alignment.
//
// Nothing here throws (beyond std::bad_alloc of the strings, as anywhere in
// the library) and nothing prints.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <spinmap/datafile/datafile.h>
#include <spinmap/platform/platform.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

// A pivot coordinate holding this value (the largest finite float) means that
// no pivot was given: the run turns about the centre of the valid points'
// window.
inline constexpr double NO_PIVOT = 3.4028234663852886e38;

// True when both coordinates of a pivot were given.
constexpr bool pivot_given(double pivot_x, double pivot_y) { return pivot_x != NO_PIVOT && pivot_y != NO_PIVOT; }

// The pivot a run turns about before the plan adjusts it: the given one, or,
// without one, the centre of the valid points' window.
void choose_pivot(const window& valid, double pivot_x, double pivot_y, double* x, double* y);

// ---- The report ---------------------------------------------------------------------

// Receives the report's text in order, a piece at a time: exactly the bytes
// spinmap -Verbose prints on standard output before "Done". An empty sink
// asks for no report (and the run then spends no pass on counting for it).
using report_sink = std::function<void(std::string_view text)>;

// The report's key column: keys are left-justified in this many characters.
inline constexpr int REPORT_KEY_WIDTH = 20;

// One report line: the key in the key column, " = ", then the value as
// given (which carries its own line end).
std::string report_line(std::string_view key, std::string_view value);

// ---- The run ------------------------------------------------------------------------

// What a run is asked to do.
struct rotation_run_settings {
    std::string input_path;
    std::string output_path;  // the input path itself for the one-file form; replaced when it exists
    double angle = 0;         // degrees, counter-clockwise positive as the image is seen, row 0 at the top
    double pivot_x = NO_PIVOT;  // camera pixels; NO_PIVOT: the centre of the valid points' window
    double pivot_y = NO_PIVOT;
    bool no_interp = false;   // move values only; refused unless the angle and pivot allow it
    bool report = false;      // send the report through the sink
};

// What a run did, or why it stopped.
struct rotation_run_result {
    int code = 0;             // 0, or the error code of the failure
    std::string message;      // on failure: the text spinmap prints after "ERROR: ", without its final line end
    rotation_plan plan{};     // the plan followed (its pivot after any adjustment)
    int32_t points_in = 0;    // valid input points; counted when the report is on or some fell outside
    int32_t points_out = 0;   // valid points written; counted when the report is on
    int32_t points_outside = 0;  // valid input points the rotation turned off the camera frame
    window input_window{};    // the valid points' window before the rotation
    window output_window{};   // the height window after the trim
};

// The whole run on files. The input must stay unchanged while it runs (a
// change between reading and the end of the copy of the intensity block
// fails the run); the output is written through a temporary that replaces
// it only when complete, durably when it is the input itself. Returns
// result->code.
int rotate_data_file(const rotation_run_settings& settings, const report_sink& sink, rotation_run_result* result);

// The same rotation on a measurement in memory, the header's attributes
// already checked (check_data_attributes): plan, count the points leaving
// the frame, rotate the heights onto the camera frame, trim, rotate the
// fiducials of the header. The intensity block is not touched. The report
// (with a sink) holds the header's attributes, the input window, the plan,
// the output window and the fiducials, as in the file run. On failure the
// header is as it was, and so are the heights, except after "Result
// contains no valid data", when they hold the rotated frame without a valid
// point. Returns result->code with the tool's message.
int rotate_measurement(HeaderRecord* header, height_matrix* height, double angle, double pivot_x, double pivot_y,
                       bool no_interp, const report_sink& sink, rotation_run_result* result);

// Rotates the four fiducial groups of the header in place about the pivot by
// angle degrees (counter-clockwise positive on the camera image), reporting
// each group that holds points through the sink (when there is one).
void rotate_fiducials(HeaderRecord* header, double pivot_x, double pivot_y, double angle, const report_sink& sink);

// Rotates the first `count` points (at most the group's room) of one group;
// top_row is CameraHeight - 1.
void rotate_fiducial_group(const char* name, int count, float* coordinates, int top_row, double pivot_x,
                           double pivot_y, double angle, const report_sink& sink);

// ---- What a run would do, and the command that asks for it ---------------------------

// What spinmap would do with the heights turned by angle degrees about the
// pivot (NO_PIVOT: the centre of the valid points' window), worked out by
// rotate_measurement on a copy, with and without no_interp. The texts are
// the words spinmap-info reports. The heights must hold valid points.
struct rotation_forecast {
    bool pivot_given = false;
    double pivot_x = 0;  // the pivot the run turns about, after any adjustment
    double pivot_y = 0;
    rotation_method method = rotation_method::refused;
    std::string rotation;        // the method, a moved pivot, and how the run would fail
    std::string failure;         // how the run would fail ("then fails with ..."); empty when it succeeds
    int32_t outside = 0;         // valid points turned off the camera frame
    window output{};             // when it succeeds: the output height window
    int32_t output_points = 0;   // and its valid points
    std::string with_no_interp;  // what no_interp would do, with any points lost
};

rotation_forecast forecast_rotation(const HeaderRecord& header, const height_matrix& height, double angle,
                                    double pivot_x, double pivot_y);

// The shortest text that reads back as the same double, as spinmap reads
// its numbers.
std::string shortest_number_text(double v);

// The spinmap command line that carries out an alignment of the file at
// path: the angle and pivot as shortest_number_text gives them, the output
// the input's name with "_aligned" before its extension, both in double
// quotes.
std::string alignment_command(const std::string& path, const fiducial_alignment& a);

// ---- Reading a measurement ----------------------------------------------------------

// What the loader does with the intensity block.
enum class intensity_use {
    skip,   // not read
    carry,  // left in the open input for the writer (carried_intensity)
    load,   // the frames read into memory (intensity.frames)
};

struct load_request {
    intensity_use intensity = intensity_use::load;
    bool heights = true;           // read the height block
    bool require_heights = false;  // a file without heights fails (load_step::heights)
};

// A measurement as read: the matrices release themselves and the input stays
// open (for a carried intensity block) until the record goes.
struct loaded_measurement {
    InfoBlock info{};
    HeaderRecord header{};
    owned_file input;
    std::optional<file_state> input_state;  // as the input stood when it was opened (when it could be had)
    carried_intensity intensity;
    owned_height height;
};

// The step at which loading stopped.
enum class load_step {
    none,
    opening,     // not a regular file, or it cannot be opened: ERR_CANT_OPEN_FILE
    reading,     // the reader's code
    attributes,  // check_data_attributes' code, with its reason
    heights,     // no height block (required): ERR_ALL_BAD_DATA
};

struct load_failure {
    load_step step = load_step::none;
    int code = 0;
    std::string reason;  // for attributes: the check's text
};

// Opens, reads and checks (strictly, for the blocks read) one data file.
// Returns 0 or the failure's code; failure (when given) says which step.
int load_measurement(std::string_view path, const load_request& request, loaded_measurement* m,
                     load_failure* failure);

}  // namespace spinmap
