// Spinmap Info: what a measurement data file holds, for a user who wants to
// know before rotating it. For each file given: the header's camera, pixel
// sizes, wavelength, scale and obliquity factors, phase resolution and time
// stamp; the height and intensity windows; the valid heights' window, count,
// minimum, maximum, peak-to-valley and RMS in file units and nanometres; and
// the fiducials. With -Angle (and -Pivot) also what spinmap would do with the
// file: the pivot, whether the heights stay, move exactly or are
// interpolated, how many valid points would fall outside the camera frame,
// and the output window or the failure, with and without -NoInterp; the
// rotation is carried out in memory by the same plan and library calls as
// spinmap's.
//
// Report lines go to standard output as "key = value" with the key in 22
// characters (spinmap's verbose report has REPORT_KEY_WIDTH, 20, which the
// longest keys here overrun); errors go to standard error as
// "Spinmap Info" on one line and "ERROR: ..." on the next. A file that cannot
// be read is reported and the others are still shown; the exit status is 1
// when any file failed.
#pragma once

#include <string>
#include <vector>

#include <spinmap/run/run.h>

namespace spinmap {

inline constexpr const char* INFO_TOOL_NAME = "Spinmap Info";

// The report's key column: wide enough for the longest key,
// "Intensity WindowHeight".
inline constexpr int INFO_KEY_WIDTH = 22;

struct info_settings {
    std::vector<std::string> inputs;  // in command-line order
    bool has_angle = false;
    double angle = 0;
    double pivot_x = NO_PIVOT;
    double pivot_y = NO_PIVOT;
    bool aligning = false;  // -AlignTo: the inputs are aligned to the reference
    std::string reference;
};

// The whole program: answers help and version, parses the arguments (after
// the program name), reports every file and returns the exit status (0
// success, help and version; 1 the usage text for no arguments and every
// failure).
int spinmap_info_main(const std::vector<std::string>& args);

// Parses the arguments left to right, options as spinmap takes them. False
// with the message (the text after "ERROR: ") on the first bad argument, when
// no file name was given, or for -Pivot without -Angle.
bool parse_info_arguments(const std::vector<std::string>& args, info_settings* settings, std::string* message);

// Prints the report of one file (and, with an angle, its rotation plan).
// False with the message, which names the file, when it cannot be read or
// its attributes are unsound; nothing of it is printed then.
bool report_file(const info_settings& settings, const std::string& path, std::string* message);

// -AlignTo: for each input, the turn about a pivot that carries its
// fiducials onto the reference's, with spinmap's command line; returns the
// exit status (1 when the reference or any input cannot be read or aligned).
int align_files(const info_settings& settings);

}  // namespace spinmap
