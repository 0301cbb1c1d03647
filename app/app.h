// The Spinmap command-line tool: the console around the library's rotation
// run (run/): the entry with its options, usage text and overwrite
// question, the report and the messages.
//
// Only this layer prints. Error messages go to standard error as the tool's
// name on one line and "ERROR: ..." on the next; the usage text, the
// overwrite question, the verbose report and "Done" go to standard output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <spinmap/run/run.h>

namespace spinmap {

inline constexpr const char* TOOL_NAME = "Spinmap";

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

// Runs the rotation (rotate_data_file) with the report, when asked for, on
// standard output, and prints its failure. After a successful run, losses
// (when given) say what it could not place on the camera frame; the caller
// warns of them.
bool run_rotation(const run_settings& settings, run_losses* losses = nullptr);

}  // namespace spinmap
