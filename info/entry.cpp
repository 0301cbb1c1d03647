// The inspector's entry: usage text, options, error messages, exit status.
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "info/info.h"

namespace spinmap {

namespace {

constexpr int EXIT_SUCCESS_STATUS = 0;
constexpr int EXIT_FAILURE_STATUS = 1;

// Numbers are read as the rotation tool reads them: strtod's grammar in the
// whole argument, finite and within the largest float.
constexpr double VALUE_LIMIT = 3.4028234663852886e38;

constexpr const char* USAGE_LINES[] = {
    "Spinmap Info",
    "Version 2",
    "",
    "This program reads Lumatrix binary data files and prints what they hold:",
    "the camera, scale factors, wavelength and time stamp of the header, the",
    "height and intensity windows, the window, count, minimum, maximum,",
    "peak-to-valley and RMS of the valid heights in file units and nanometres,",
    "and the fiducials.",
    "",
    "Usage:",
    "",
    "Spinmap-Info [Options] InFile [InFile ...]",
    "",
    "Options:",
    "",
    "Options are specified by a prefix dash (-) character followed by a keyword.",
    "Keywords are not case-sensitive.",
    "",
    "-Angle Ang",
    "This option also prints how Spinmap would rotate each file by Ang degrees:",
    "the pivot it would use, whether the rotation would move values exactly or",
    "interpolate, and what the NoInterp option would do.",
    "",
    "-Pivot X,Y",
    "This option gives the pivot point for the Angle option, as for Spinmap.",
    "If this option is not specified, the default pivot point is the center",
    "of the minimum enclosing rectangle for the valid height points.",
    "",
    "Exit Status",
    "If successful, the exit status is 0.",
    "Otherwise, the exit status is 1 and an error message is output to the console.",
};
static_assert(std::size(USAGE_LINES) == 31);

void print_usage() {
    for (const char* line : USAGE_LINES) std::printf("%s\n", line);
}

// Bytes are written as they are: a path may hold a per cent sign.
void print_error(std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\nERROR: ", INFO_TOOL_NAME);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Case folding of ASCII letters only, so no byte depends on the locale.
std::string folded_to_lower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

bool within_value_limit(double value) { return value >= -VALUE_LIMIT && value <= VALUE_LIMIT; }

const char* convert_number(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end;
}

// The angle: the whole argument is the number; an empty argument is 0.
bool parse_angle(const std::string& text, double* angle) {
    double value = 0;
    const char* end = convert_number(text.c_str(), &value);
    if (end != text.c_str() + text.size() || !within_value_limit(value)) return false;
    *angle = value;
    return true;
}

// "X,Y": white space only before X and right after the comma.
bool parse_pivot(const std::string& text, double* pivot_x, double* pivot_y) {
    const char* const start = text.c_str();
    const char* const finish = start + text.size();
    double x = 0;
    const char* x_end = convert_number(start, &x);
    if (x_end == start || *x_end != ',' || !within_value_limit(x)) return false;
    const char* const y_start = x_end + 1;
    double y = 0;
    const char* y_end = convert_number(y_start, &y);
    if (y_end == y_start || y_end != finish || !within_value_limit(y)) return false;
    *pivot_x = x;
    *pivot_y = y;
    return true;
}

bool parse_option(const std::vector<std::string>& args, std::size_t* index, info_settings* settings,
                  std::string* message) {
    const std::string& argument = args[*index];
    if (argument.size() == 1) {
        *message = "Missing option name after prefix '-'";
        return false;
    }
    const std::string keyword = folded_to_lower(std::string_view(argument).substr(1));
    if (keyword != "angle" && keyword != "pivot") {
        *message = "Unknown option " + quoted(argument);
        return false;
    }
    if (*index + 1 >= args.size()) {
        *message = "Missing value after " + quoted(argument);
        return false;
    }
    const std::string& value = args[++*index];
    if (keyword == "angle") {
        settings->has_angle = true;
        if (parse_angle(value, &settings->angle)) return true;
        *message = "Invalid angle " + quoted(value);
    } else {
        if (parse_pivot(value, &settings->pivot_x, &settings->pivot_y)) return true;
        *message = "Invalid pivot coordinates " + quoted(value);
    }
    return false;
}

// Reports every file; a failed one is explained and the rest still shown.
int run_entry(const std::vector<std::string>& args) {
    if (args.empty()) {
        print_usage();
        return EXIT_FAILURE_STATUS;
    }
    info_settings settings;
    std::string message;
    if (!parse_info_arguments(args, &settings, &message)) {
        print_error(message);
        return EXIT_FAILURE_STATUS;
    }
    int status = EXIT_SUCCESS_STATUS;
    for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
        if (i > 0) std::printf("\n");
        if (!report_file(settings, settings.inputs[i], &message)) {
            print_error(message);
            status = EXIT_FAILURE_STATUS;
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

bool parse_info_arguments(const std::vector<std::string>& args, info_settings* settings, std::string* message) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!args[i].empty() && args[i][0] == '-') {
            if (!parse_option(args, &i, settings, message)) return false;
        } else {
            settings->inputs.push_back(args[i]);
        }
    }
    if (settings->inputs.empty()) {
        *message = "No input data file specified";
        return false;
    }
    if (!settings->has_angle && settings->pivot_x != INFO_NO_PIVOT) {
        *message = "The Pivot option needs the Angle option";
        return false;
    }
    return true;
}

int spinmap_info_main(const std::vector<std::string>& args) {
    // Running out of memory ends the program like any other failure.
    try {
        return run_entry(args);
    } catch (const std::bad_alloc&) {
        print_error(error_name(ERR_NO_MEM));
        return EXIT_FAILURE_STATUS;
    }
}

}  // namespace spinmap
