// The exporter's entry: usage text, options, the file-name rules, the export
// and the exit status.
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "export/export.h"
#include <spinmap/platform/platform.h>

namespace spinmap {

namespace {

constexpr const char* USAGE_HEAD[] = {
    "Spinmap Export",
    "Version 2",
    "",
    "This program reads a Lumatrix binary data file and writes its height data",
    "in an open format for other software, chosen by the output file name:",
    "  .x3p          surface texture container (XML and binary doubles)",
    "  .tif, .tiff   TIFF, one 32-bit float per pixel",
    "  .xyz          text, one line \"x y z\" per valid point",
    "  .csv          text, the line \"x_m,y_m,z_m\", then one line per valid point",
    "Heights are in metres (file units x IntfScaleFactor x ObliquityFactor",
    "x WavelengthIn / counts per fringe), x and y in metres in the camera",
    "frame from the centre of the upper left pixel, y growing downward, with",
    "the pixel spacing of the header's CameraRes. Invalid points are NaN in",
    ".x3p and TIFF files and left out of the text forms.",
    "",
    "Usage:",
    "",
    "Spinmap-Export [Options] InFile OutFile",
    "",
    "An existing OutFile is refused unless the Overwrite option is given.",
    "",
};

constexpr const char* USAGE_OPTIONS[] = {
    "-Overwrite",
    "This option causes the program to replace a pre-existing output file.",
    "",
};

// The usage text: the program's own lines around the shared paragraphs.
constexpr cli::text_lines USAGE[] = {USAGE_HEAD, cli::OPTIONS_PARAGRAPH, USAGE_OPTIONS, cli::HELP_PARAGRAPH,
                                     cli::EXIT_STATUS_PARAGRAPH};
static_assert(cli::line_count(USAGE) == 35);

enum option_id { OVERWRITE };

constexpr cli::option_spec OPTIONS[] = {
    {"overwrite", OVERWRITE, false},
};

// Extensions, ASCII case-folded, and the format each asks for.
constexpr struct {
    std::string_view extension;
    export_format format;
} EXTENSIONS[] = {
    {".x3p", export_format::x3p}, {".tif", export_format::tiff}, {".tiff", export_format::tiff},
    {".xyz", export_format::xyz}, {".csv", export_format::csv},
};

// The input is a file, the output names a format, and the output neither is
// the input nor replaces a file unasked.
bool check_file_names(const export_settings& settings, export_format* format, std::string* message) {
    const std::string output = cli::quoted(settings.output);
    if (!u_is_regular_file(settings.input)) {
        *message = "Cannot access input data file " + cli::quoted(settings.input);
        return false;
    }
    if (!format_of_name(settings.output, format)) {
        *message = "Output file name " + output + " does not end in .x3p, .tif, .tiff, .xyz or .csv";
        return false;
    }
    if (u_names_same_file(settings.input, settings.output)) {
        *message = "Output file " + output + " is the input data file";
        return false;
    }
    if (!settings.overwrite && u_is_regular_file(settings.output)) {
        *message = "Output file " + output + " exists; the Overwrite option replaces it";
        return false;
    }
    return true;
}

int write_in_format(export_format format, std::FILE* stream, const export_surface& surface) {
    switch (format) {
        case export_format::x3p: return write_x3p(stream, surface);
        case export_format::tiff: return write_tiff(stream, surface);
        case export_format::xyz: return write_points(stream, surface, false);
        case export_format::csv: return write_points(stream, surface, true);
    }
    return ERR_INVALID_PARAM;
}

// Running out of memory is a failure like any other, reported while the
// output can still be discarded.
int write_format(export_format format, std::FILE* stream, const export_surface& surface) {
    try {
        return write_in_format(format, stream, surface);
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
    }
}

// The reasons a writer refuses a surface, in words; others by the code's name.
std::string write_failure(const export_settings& settings, int code) {
    const std::string input = cli::quoted(settings.input);
    if (code == ERR_DATASET_DIM_TOO_LARGE) {
        return "Input data file " + input + " has too many heights for an .x3p file, which holds at most 4 GiB";
    }
    if (code == ERR_PARAM_OUT_OF_RANGE) {
        return "Heights of input data file " + input + " exceed the range of a TIFF file's 32-bit floats";
    }
    return "Error writing output file " + cli::quoted(settings.output) + ": " + error_name(code);
}

// What was written, for the person who ran the export.
void report_written(const export_settings& settings, export_format format, const export_surface& s) {
    const window& w = s.height.window;
    std::string what;
    if (format == export_format::xyz || format == export_format::csv) {
        what = std::to_string(s.valid_points) + " points";
    } else {
        what = std::to_string(w.width) + " x " + std::to_string(w.height) + " heights (" +
               std::to_string(s.valid_points) + " valid, the others NaN)";
    }
    std::printf("Wrote ");
    u_write_text(stdout, cli::quoted(settings.output));
    std::printf(": %s, pixel spacing %g um, heights %g to %g nm\n", what.c_str(), s.spacing * 1e6,
                height_in_metres(s.lowest, s.nm_per_count) * 1e9, height_in_metres(s.highest, s.nm_per_count) * 1e9);
    std::fflush(stdout);
}

bool run_export(const export_settings& settings, std::string* message) {
    export_format format{};
    if (!check_file_names(settings, &format, message)) return false;
    export_surface surface;
    if (!read_surface(settings.input, &surface, message)) return false;
    const int code = u_write_output(settings.output, false,
                                    [&](std::FILE* stream) { return write_format(format, stream, surface); });
    if (code != 0) {
        *message = write_failure(settings, code);
        return false;
    }
    report_written(settings, format, surface);
    return true;
}

int run_entry(const std::vector<std::string>& args) {
    if (const std::optional<int> answered = cli::answer_request(args, EXPORT_TOOL_NAME, USAGE)) return *answered;
    if (args.size() < 2) return cli::usage_failure(USAGE);
    export_settings settings;
    std::string message;
    const bool exported = parse_export_arguments(args, &settings, &message) && run_export(settings, &message);
    return exported ? cli::EXIT_OK : cli::failure(EXPORT_TOOL_NAME, message);
}

}  // namespace

bool format_of_name(std::string_view path, export_format* format) {
    // A wide path's extension is in its UTF-16 units.
    const std::optional<std::string> name =
        is_wide_path(path) ? utf16le_to_utf8(path.substr(2)) : std::optional<std::string>(path);
    if (!name) return false;
    const std::size_t dot = name->rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = cli::folded_to_lower(std::string_view(*name).substr(dot));
    for (const auto& e : EXTENSIONS) {
        if (e.extension == extension) {
            *format = e.format;
            return true;
        }
    }
    return false;
}

bool parse_export_arguments(const std::vector<std::string>& args, export_settings* settings, std::string* message) {
    std::vector<std::string> names;
    const bool walked = cli::walk_arguments(
        args, {OPTIONS},
        [&](int, const std::string&, const std::string&, std::string*) {
            settings->overwrite = true;  // the one option
            return true;
        },
        [&](const std::string& name, std::string*) {
            names.push_back(name);
            return true;
        },
        message);
    if (!walked) return false;
    const char* const missing[] = {"No input data file specified", "No output file specified"};
    if (names.size() < 2) {
        *message = missing[names.size()];
        return false;
    }
    if (names.size() > 2) {
        *message = "Too many filename arguments";
        return false;
    }
    settings->input = names[0];
    settings->output = names[1];
    return true;
}

int spinmap_export_main(const std::vector<std::string>& args) {
    return cli::guard_allocation(EXPORT_TOOL_NAME, [&] { return run_entry(args); });
}

}  // namespace spinmap
