// The Spinmap command-line tool: the entry with its options, usage text and
// overwrite question; the rotation run that reads, rotates and writes one
// data file; and the rotation of the header's fiducials.
//
// Only this layer prints. Error messages go to standard error as the tool's
// name on one line and "ERROR: ..." on the next; the usage text, the
// overwrite question, the verbose report and "Done" go to standard output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "datafile/datafile.h"

namespace spinmap {

inline constexpr const char* TOOL_NAME = "Spinmap";

// A pivot coordinate holding this value (the largest finite float) means that
// no pivot was given.
inline constexpr double NO_PIVOT = 3.4028234663852886e38;

// What the command line asks for.
struct run_settings {
    std::string input_path;
    std::string output_path;  // the input path in the one-file form
    double angle = 0;
    double pivot_x = NO_PIVOT;
    double pivot_y = NO_PIVOT;
    bool no_interp = false;
    bool overwrite = false;
    bool verbose = false;
};

// The verbose report of a run: keyed lines on standard output, printed only
// when the report is on. The run hands it to the steps that report.
class run_report {
public:
    explicit run_report(bool on) : on_(on) {}
    bool on() const { return on_; }
    // The key left-justified in 20 characters, " = ", then the value by a
    // printf format (which ends the line itself).
    void line(const char* key, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // Text as it is; "\n" is an empty line.
    void text(std::string_view text) const;

private:
    bool on_;
};

// The whole entry: parses the arguments (after the program name), asks before
// an existing output is replaced, runs the rotation, and returns the process
// exit status (0 success, 1 every failure).
int spinmap_main(const std::vector<std::string>& args);

// Parses the arguments (after the program name) into settings, left to
// right, and settles the file names. On the first bad argument, or when no
// file name was given, returns false with the error message (the text after
// "ERROR: "); settings then hold what was parsed before it.
bool parse_arguments(const std::vector<std::string>& args, run_settings* settings, std::string* message);

// Asks a yes/no question. The question has one "%c" slot, filled with 'y' or
// 'n' by the answer's value on entry; "%%" prints a per cent sign. Reads one
// line from standard input: y/1 set the answer, n/0 clear it (first character,
// case-folded) and return true; anything else, an empty line or end of input
// return false and leave the answer as it was.
bool u_ask_yes_no(std::string_view question, bool* answer);

// The valid input points a successful run turned off the camera frame, which
// the output file therefore lacks.
struct run_losses {
    int32_t points_outside = 0;
    int32_t valid_points = 0;  // all valid input points; counted only when some fell outside
};

// Reads the input file, rotates its height data by the settings' angle about
// their pivot (NO_PIVOT: the centre of the valid points' window), rotates
// the fiducials, and writes the output file; reports with -Verbose. Prints
// every failure itself. After a successful run, losses (when given) say
// what it could not place on the camera frame; the caller warns of them.
bool run_rotation(const run_settings& settings, run_losses* losses = nullptr);

// Rotates the four fiducial groups of the header in place about the pivot by
// angle degrees (counter-clockwise positive on the camera image), reporting
// each group that holds points.
void rotate_fiducials(HeaderRecord* header, double pivot_x, double pivot_y, double angle, const run_report& report);

// Rotates the first `count` points (at most the group's room) of one group;
// top_row is CameraHeight - 1.
void rotate_fiducial_group(const char* name, int count, float* coordinates, int top_row, double pivot_x,
                           double pivot_y, double angle, const run_report& report);

}  // namespace spinmap
