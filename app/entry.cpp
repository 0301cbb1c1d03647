// The program entry: usage text, option parsing, the file-name rules, the
// input check, the overwrite question, the rotation run and the exit status.
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app.h"
#include "cli/cli.h"
#include <spinmap/platform/platform.h>

namespace spinmap {

namespace {

// One line of standard input holds at most this many characters of an answer.
constexpr int ANSWER_LINE_CHARS = 511;

constexpr const char* USAGE_HEAD[] = {
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
};

constexpr const char* USAGE_OPTIONS[] = {
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
};

constexpr const char* USAGE_END[] = {
    "",
};

// The usage text: the program's own lines around the shared paragraphs.
constexpr cli::text_lines USAGE[] = {USAGE_HEAD, cli::OPTIONS_PARAGRAPH, USAGE_OPTIONS, cli::EXIT_STATUS_PARAGRAPH,
                                     USAGE_END};
static_assert(cli::line_count(USAGE) == 67);

enum option_id { ANGLE, PIVOT, NO_INTERP, OVERWRITE, VERBOSE };

constexpr cli::option_spec OPTIONS[] = {
    {"angle", ANGLE, true},          {"pivot", PIVOT, true},     {"nointerp", NO_INTERP, false},
    {"overwrite", OVERWRITE, false}, {"verbose", VERBOSE, false},
};

// Takes an option of the table with its value (empty for a switch).
bool take_option(int id, const std::string& value, run_settings* settings, std::string* message) {
    switch (id) {
        case ANGLE:
            return cli::parse_number(value, &settings->angle) || cli::refuse_value("angle", value, message);
        case PIVOT:
            return cli::parse_number_pair(value, &settings->pivot_x, &settings->pivot_y) ||
                   cli::refuse_value("pivot coordinates", value, message);
        case NO_INTERP:
            settings->no_interp = true;
            return true;
        case OVERWRITE:
            settings->overwrite = true;
            return true;
        default:
            settings->verbose = true;
            return true;
    }
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

// After everything on standard output, so that a combined log ends with it.
void warn_of_losses(const run_losses& losses) {
    if (losses.points_outside == 0) return;
    std::fflush(stdout);
    std::fprintf(stderr,
                 "%s\nWARNING: %d of %d valid points fell outside the camera frame and are not in the output file\n",
                 TOOL_NAME, losses.points_outside, losses.valid_points);
    std::fflush(stderr);
}

int run_entry(const std::vector<std::string>& args) {
    if (args.size() < 2) return cli::usage_failure(USAGE);
    run_settings settings;
    std::string message;
    if (!parse_arguments(args, &settings, &message)) return cli::failure(TOOL_NAME, message);
    if (!u_is_regular_file(settings.input_path)) {
        return cli::failure(TOOL_NAME, "Cannot access input data file " + cli::quoted(settings.input_path));
    }
    if (!overwrite_confirmed(settings)) return cli::EXIT_FAILED;
    run_losses losses;
    if (!run_rotation(settings, &losses)) return cli::EXIT_FAILED;
    if (settings.verbose) std::printf("Done\n");
    warn_of_losses(losses);
    return cli::EXIT_OK;
}

}  // namespace

bool parse_arguments(const std::vector<std::string>& args, run_settings* settings, std::string* message) {
    int file_names = 0;
    const bool walked = cli::walk_arguments(
        args, {OPTIONS},
        [&](int id, const std::string&, const std::string& value, std::string* m) {
            return take_option(id, value, settings, m);
        },
        [&](const std::string& name, std::string* m) { return take_file_name(name, settings, &file_names, m); },
        message);
    return walked && settle_file_names(file_names, settings, message);
}

bool u_ask_yes_no(std::string_view question, bool* answer) {
    if (!question.empty()) {
        const std::string text = filled_question(question, *answer ? 'y' : 'n');
        u_write_text(stdout, text);
        std::fflush(stdout);
    }
    char line[ANSWER_LINE_CHARS + 1];
    if (std::fgets(line, sizeof line, stdin) == nullptr || line[0] == '\n') return false;
    const char first = cli::fold_to_lower(line[0]);
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
    // Strings of paths and messages are the only allocations here.
    return cli::guard_allocation(TOOL_NAME, [&] { return run_entry(args); });
}

}  // namespace spinmap
