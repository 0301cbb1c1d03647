// The inspector's entry: usage text, options, error messages, exit status.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "info/info.h"

namespace spinmap {

namespace {

constexpr const char* USAGE_HEAD[] = {
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
};

constexpr const char* USAGE_OPTIONS[] = {
    "-Angle Ang",
    "This option also prints what Spinmap would do with each file for a",
    "rotation by Ang degrees: the pivot it would use, whether the rotation would",
    "move values exactly or interpolate, how many valid points would fall",
    "outside the camera frame, the output window or the error Spinmap would end",
    "with, and what the NoInterp option would do.",
    "",
    "-Pivot X,Y",
    "This option gives the pivot point for the Angle option, as for Spinmap.",
    "If this option is not specified, the default pivot point is the center",
    "of the minimum enclosing rectangle for the valid height points.",
    "",
};

constexpr const char* USAGE_ALIGN_OPTION[] = {
    "-AlignTo RefFile",
    "This option prints instead, for each InFile, the angle and pivot by which",
    "Spinmap turns its fiducials onto those of RefFile (matched by group and",
    "index), the Spinmap command line that does it, and how far the fiducials",
    "then lie from those of RefFile.",
    "",
};

// The usage text: the program's own lines around the shared paragraphs.
constexpr cli::text_lines USAGE[] = {USAGE_HEAD,         cli::OPTIONS_PARAGRAPH, USAGE_OPTIONS,
                                     USAGE_ALIGN_OPTION, cli::HELP_PARAGRAPH,    cli::EXIT_STATUS_PARAGRAPH};
static_assert(cli::line_count(USAGE) == 42);

enum option_id { ANGLE, PIVOT, ALIGN_TO };

constexpr cli::option_spec OPTIONS[] = {
    {"angle", ANGLE, true},
    {"pivot", PIVOT, true},
    {"alignto", ALIGN_TO, true},
};

bool take_option(int id, const std::string& value, info_settings* settings, std::string* message) {
    if (id == ALIGN_TO) {
        settings->aligning = true;
        settings->reference = value;
        return true;
    }
    if (id == ANGLE) {
        settings->has_angle = true;
        return cli::parse_number(value, &settings->angle) || cli::refuse_value("angle", value, message);
    }
    return cli::parse_number_pair(value, &settings->pivot_x, &settings->pivot_y) ||
           cli::refuse_value("pivot coordinates", value, message);
}

// Reports every file; a failed one is explained and the rest still shown.
int run_entry(const std::vector<std::string>& args) {
    if (const std::optional<int> answered = cli::answer_request(args, INFO_TOOL_NAME, USAGE)) return *answered;
    if (args.empty()) return cli::usage_failure(USAGE);
    info_settings settings;
    std::string message;
    if (!parse_info_arguments(args, &settings, &message)) return cli::failure(INFO_TOOL_NAME, message);
    if (settings.aligning) return align_files(settings);
    int status = cli::EXIT_OK;
    for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
        if (i > 0) std::printf("\n");
        if (!report_file(settings, settings.inputs[i], &message)) status = cli::failure(INFO_TOOL_NAME, message);
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

bool parse_info_arguments(const std::vector<std::string>& args, info_settings* settings, std::string* message) {
    const bool walked = cli::walk_arguments(
        args, {OPTIONS},
        [&](int id, const std::string&, const std::string& value, std::string* m) {
            return take_option(id, value, settings, m);
        },
        [&](const std::string& name, std::string*) {
            settings->inputs.push_back(name);
            return true;
        },
        message);
    if (!walked) return false;
    if (settings->inputs.empty()) {
        *message = "No input data file specified";
        return false;
    }
    if (!settings->has_angle && settings->pivot_x != NO_PIVOT) {
        *message = "The Pivot option needs the Angle option";
        return false;
    }
    if (settings->aligning && settings->has_angle) {
        *message = "The AlignTo option cannot be combined with the Angle option";
        return false;
    }
    return true;
}

int spinmap_info_main(const std::vector<std::string>& args) {
    return cli::guard_allocation(INFO_TOOL_NAME, [&] { return run_entry(args); });
}

}  // namespace spinmap
