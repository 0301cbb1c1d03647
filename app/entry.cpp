// The program entry: usage text, option parsing, the file-name rules, the
// input check, the overwrite question, the rotation run and the exit status.
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app.h"
#include "errors/errors.h"
#include "platform/platform.h"

namespace spinmap {

namespace {

constexpr int EXIT_SUCCESS_STATUS = 0;
constexpr int EXIT_FAILURE_STATUS = 1;

// The largest finite float: every accepted angle and pivot coordinate fits
// the header's single-precision fields.
constexpr double VALUE_LIMIT = 3.4028234663852886e38;

// One line of standard input holds at most this many characters of an answer.
constexpr int ANSWER_LINE_CHARS = 511;

constexpr const char* USAGE_LINES[] = {
    "Spinmap",
    "Version 2",
    "",
    "This program reads a Lumatrix binary data file and rotates the height data.",
    "Fiducial coordinates, if any, are also rotated.",
    "The output is either written to the same file or to another file.",
    "",
    "This program does not rotate intensity data.",
    "",
    "Usage:",
    "",
    "Spinmap [Options] InFile OutFile",
    "Spinmap [Options] InOutFile",
    "",
    "The first form uses two filename parameters:",
    "InFile is the input filename and OutFile is the output filename.",
    "",
    "The second form uses one filename parameter:",
    "InOutFile is both input and output filename.",
    "The Overwrite option is required.",
    "",
    "Options:",
    "",
    "Options are specified by a prefix dash (-) character followed by a keyword.",
    "Keywords are not case-sensitive.",
    "",
    "-Angle Ang",
    "This required option specifies rotation angle Ang in degress.",
    "A positive angle produces a counter-clockwise rotation.",
    "",
    "-Pivot X,Y",
    "This option specifies the coordinates of the pivot point (X,Y) in the",
    "camera coordinate system having the origin (0,0) at the center of the",
    "upper left pixel.",
    "If this option is not specified, the default pivot point is the center",
    "of the minimum enclosing rectangle for the valid height points.",
    "",
    "-NoInterp",
    "This option prevents the use of interpolation.",
    "This option is only allowed when the rotation angle is a multiple",
    "of 90 degrees and the pivot coordinates are multiples of 0.5 pixel.",
    "",
    "-Overwrite",
    "This option causes the program to quietly overwrite a pre-existing output file.",
    "If this option is not specified and if the output file already exists,",
    "the operator is prompted to confirm that the file may be overwritten.",
    "",
    "-Verbose",
    "This option causes verbose information to be output to the console.",
    "",
    "90 Degree Rotations",
    "This section discusses the special case of performing rotations by",
    "multiples of 90 degrees.",
    "If the pivot coordinates are both whole numbers or both have 0.5 as",
    "the fractional parts, then the rotation will be done by only moving values;",
    "interpolation will not be used.",
    "The output will contain exactly the same set of values as the input.",
    "However, if one pivot coordinate is a whole number and the other has 0.5",
    "as the fractional part, the rotation will normally require interpolation.",
    "The NoInterp option can be specified to ensure that interpolation is not used.",
    "This will cause an automatic adjustment of the pivot coordinates so that",
    "either both are whole numbers or both have 0.5 as the fractional parts.",
    "",
    "Exit Status",
    "If successful, the exit status is 0.",
    "Otherwise, the exit status is 1 and an error message is output to the console.",
    "",
};
static_assert(std::size(USAGE_LINES) == 67);

void print_usage() {
    for (const char* line : USAGE_LINES) std::printf("%s\n", line);
}

// Writes bytes as they are: a path may hold a per cent sign or any other byte.
void write_text(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

void print_error(std::string_view message) {
    std::fprintf(stderr, "%s\nERROR: ", TOOL_NAME);
    write_text(stderr, message);
    std::fputc('\n', stderr);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Case folding of ASCII letters only, so no byte depends on the locale.
char fold_to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string folded_to_lower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = fold_to_lower(c);
    return folded;
}

bool within_value_limit(double value) { return value >= -VALUE_LIMIT && value <= VALUE_LIMIT; }

// Converts a number at text (strtod's grammar: leading white space, decimal
// and hexadecimal forms). Returns the position after the number, text itself
// when nothing was converted. Underflow is no failure: a subnormal or zero
// result is a valid value, so errno is not looked at.
const char* convert_number(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end;
}

// The angle value: the whole argument is the number; an empty argument is 0.
bool parse_angle(const std::string& text, double* angle) {
    double value = 0;
    const char* end = convert_number(text.c_str(), &value);
    if (end != text.c_str() + text.size() || !within_value_limit(value)) return false;
    *angle = value;
    return true;
}

// The pivot value "X,Y": white space only before X and right after the comma.
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

// Takes the option at args[*index] and, for -Angle and -Pivot, its value
// (advancing *index past it).
bool parse_option(const std::vector<std::string>& args, std::size_t* index, run_settings* settings,
                  std::string* message) {
    const std::string& argument = args[*index];
    if (argument.size() == 1) {
        *message = "Missing option name after prefix '-'";
        return false;
    }
    const std::string_view word = std::string_view(argument).substr(1);
    const std::string keyword = folded_to_lower(word);
    if (keyword == "angle" || keyword == "pivot") {
        if (*index + 1 >= args.size()) {
            *message = "Missing value after " + quoted(argument);
            return false;
        }
        const std::string& value = args[++*index];
        if (keyword == "angle") {
            if (parse_angle(value, &settings->angle)) return true;
            *message = "Invalid angle " + quoted(value);
        } else {
            if (parse_pivot(value, &settings->pivot_x, &settings->pivot_y)) return true;
            *message = "Invalid pivot coordinates " + quoted(value);
        }
        return false;
    }
    if (keyword == "nointerp") {
        settings->no_interp = true;
    } else if (keyword == "overwrite") {
        settings->overwrite = true;
    } else if (keyword == "verbose") {
        settings->verbose = true;
    } else {
        *message = "Unknown option " + quoted(argument);
        return false;
    }
    return true;
}

// The first file name is the input, the second the output.
bool take_file_name(const std::string& argument, run_settings* settings, int* file_names, std::string* message) {
    if (*file_names == 2) {
        *message = "Too many filename arguments";
        return false;
    }
    (*file_names == 0 ? settings->input_path : settings->output_path) = argument;
    ++*file_names;
    return true;
}

// Without an output name the input file is rewritten in place.
bool settle_file_names(int file_names, run_settings* settings, std::string* message) {
    if (file_names == 0) {
        *message = "No input data file specified";
        return false;
    }
    if (file_names == 1) settings->output_path = settings->input_path;
    return true;
}

// The operator's yes is needed before an existing output file is replaced,
// unless -Overwrite was given. A directory or a missing output asks nothing.
bool overwrite_confirmed(const run_settings& settings) {
    if (settings.overwrite || !u_is_regular_file(settings.output_path)) return true;
    std::string question = "Overwrite output file \"";
    // The question is a format with one answer slot: per cent signs of the
    // path are doubled so that they print as themselves.
    for (char c : settings.output_path) {
        question += c;
        if (c == '%') question += '%';
    }
    question += "\" (%c) ? ";
    bool answer = false;
    u_ask_yes_no(question, &answer);
    return answer;
}

// The question with its "%c" slots filled and every "%%" made one per cent
// sign; any other per cent sign stands for itself.
std::string filled_question(std::string_view question, char slot) {
    std::string text;
    text.reserve(question.size());
    for (std::size_t i = 0; i < question.size(); ++i) {
        const char c = question[i];
        if (c == '%' && i + 1 < question.size() && question[i + 1] == '%') {
            text += '%';
            ++i;
        } else if (c == '%' && i + 1 < question.size() && question[i + 1] == 'c') {
            text += slot;
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

int run_entry(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        print_usage();
        return EXIT_FAILURE_STATUS;
    }
    run_settings settings;
    std::string message;
    if (!parse_arguments(args, &settings, &message)) {
        print_error(message);
        return EXIT_FAILURE_STATUS;
    }
    if (!u_is_regular_file(settings.input_path)) {
        print_error("Cannot access input data file " + quoted(settings.input_path));
        return EXIT_FAILURE_STATUS;
    }
    if (!overwrite_confirmed(settings)) return EXIT_FAILURE_STATUS;
    if (!run_rotation(settings)) return EXIT_FAILURE_STATUS;
    if (settings.verbose) std::printf("Done\n");
    return EXIT_SUCCESS_STATUS;
}

}  // namespace

bool parse_arguments(const std::vector<std::string>& args, run_settings* settings, std::string* message) {
    int file_names = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool ok = !args[i].empty() && args[i][0] == '-'
                            ? parse_option(args, &i, settings, message)
                            : take_file_name(args[i], settings, &file_names, message);
        if (!ok) return false;
    }
    return settle_file_names(file_names, settings, message);
}

bool u_ask_yes_no(std::string_view question, bool* answer) {
    if (!question.empty()) {
        write_text(stdout, filled_question(question, *answer ? 'y' : 'n'));
        std::fflush(stdout);
    }
    char line[ANSWER_LINE_CHARS + 1];
    if (std::fgets(line, sizeof line, stdin) == nullptr || line[0] == '\n') return false;
    const char first = fold_to_lower(line[0]);
    if (first == 'y' || first == '1') {
        *answer = true;
        return true;
    }
    if (first == 'n' || first == '0') {
        *answer = false;
        return true;
    }
    return false;
}

int spinmap_main(const std::vector<std::string>& args) {
    // Strings of paths and messages are the only allocations here; running
    // out of memory ends the program like any other failure.
    try {
        return run_entry(args);
    } catch (const std::bad_alloc&) {
        print_error(error_name(ERR_NO_MEM));
        return EXIT_FAILURE_STATUS;
    }
}

}  // namespace spinmap
