// The viewer program: usage text, error messages, the inputs and the picture.
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include <spinmap/platform/platform.h>
#include "view/view.h"

namespace spinmap {

namespace {

constexpr const char* USAGE_HEAD[] = {
    "Spinmap View",
    "Version 2",
    "",
    "This program reads Lumatrix binary data files and writes a PNG picture",
    "of the height data over the whole camera frame.",
    "Valid heights are drawn in a sequential colour map, invalid points in",
    "dark grey, and fiducials as small marks, one shape and colour for each",
    "group A to D. A legend beside the pictures explains the colours in",
    "nanometres of surface height and in file units, and names the marks.",
    "",
    "Usage:",
    "",
    "Spinmap-View [Options] InFile [InFile ...] OutFile.png",
    "",
    "With several input files, their pictures are placed side by side from",
    "left to right and share one colour scale.",
    "An existing output file is replaced only when it is a PNG picture",
    "or empty; the output file name must end in .png.",
    "",
};

constexpr const char* USAGE_OPTIONS[] = {
    "-Scale N",
    "This option draws each camera pixel as a block of N x N picture pixels,",
    "N a whole number from 1 to 16; -Scale 1/N draws each picture pixel as",
    "the mean of the valid values of N x N camera pixels, N from 1 to 64.",
    "The default is 1, or the largest 1/N that keeps the pictures together",
    "within 2400 pixels wide.",
    "",
    "-Range Lo,Hi",
    "This option makes the colour scale run from Lo to Hi, in the units stored",
    "in the file, instead of from the 0.5th to the 99.5th percentile of the",
    "valid values. Lo must be less than Hi. Both may end in nm for nanometres",
    "of surface height, as in -Range -50nm,120nm.",
    "The colour scale is printed on standard output in both units.",
    "",
    "-Intensity",
    "This option draws the first intensity frame in grey instead of the heights.",
    "Intensity is not rotated by Spinmap: fiducials of a rotated file are drawn",
    "where the rotated heights are.",
    "",
};

// The usage text: the program's own lines around the shared paragraphs.
constexpr cli::text_lines USAGE[] = {USAGE_HEAD, cli::OPTIONS_PARAGRAPH, USAGE_OPTIONS, cli::HELP_PARAGRAPH,
                                     cli::EXIT_STATUS_PARAGRAPH};
static_assert(cli::line_count(USAGE) == 49);

// Every input is a regular file, none of them is the output (by file
// identity, whatever names reach it), the output's folder exists and the
// output may hold a picture: the picture must never replace a data file. An
// input that cannot be opened here is reported when it is read.
bool check_file_names(const view_settings& settings, std::string* message) {
    for (const std::string& input : settings.inputs) {
        if (!u_is_regular_file(input)) {
            *message = cli::unreadable_input(input, ERR_CANT_OPEN_FILE);
            return false;
        }
    }
    for (const std::string& input : settings.inputs) {
        const owned_file stream(u_open_file(input, false));
        if (stream != nullptr && u_is_same_file(stream.get(), settings.output)) {
            *message = "Output PNG file is an input data file " + cli::quoted(settings.output);
            return false;
        }
    }
    // A pipe or a device is written as it is (the picture target's rule).
    const std::string reason =
        u_path_kind(settings.output) == path_kind::other ? std::string() : cli::why_no_new_file(settings.output);
    if (!reason.empty()) {
        *message = "Cannot create output PNG file " + cli::quoted(settings.output) + ": " + reason;
        return false;
    }
    return check_picture_target(settings.output, message);
}

// Reads one input: its header and the one block the picture draws, the
// other skipped; for heights also their peak-to-valley and RMS. The
// attributes are checked as the rotation tool checks them, for the block
// that was read.
bool read_panel(const std::string& path, bool intensity, view_panel* panel, std::string* message) {
    const std::string name = cli::quoted(path);
    const load_request request = intensity ? load_request{intensity_use::load, false, false}
                                           : load_request{intensity_use::skip, true, true};
    loaded_measurement m;
    load_failure failure;
    if (load_measurement(path, request, &m, &failure) != 0) {
        *message = cli::unloadable_input(path, failure);
        return false;
    }
    panel->header = m.header;
    panel->height = std::move(m.height);
    panel->intensity = std::move(m.intensity.frames);
    if (intensity) {
        if (panel->intensity.matrix != nullptr) return true;
        *message = "Input data file " + name + " contains no intensity data";
        return false;
    }
    height_statistics stats;
    if (!cli::measure_input_heights(path, panel->height, &stats, message)) return false;
    panel->measured = true;
    panel->peak_to_valley = static_cast<double>(stats.maximum) - stats.minimum;
    panel->rms = stats.rms;
    return true;
}

// Points of the drawn window: the height window, or the first intensity
// frame.
std::size_t drawn_points(const view_panel& p, bool intensity) {
    const window& w = intensity ? p.intensity.window : p.height.window;
    return static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
}

// The values the picture draws: the valid heights, or every point of the
// first intensity frame.
void append_drawn_values(const view_panel& p, bool intensity, std::vector<int32_t>* values) {
    const std::size_t n = drawn_points(p, intensity);
    if (intensity) {
        values->insert(values->end(), p.intensity.matrix, p.intensity.matrix + n);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (is_valid_height(p.height.matrix[i])) values->push_back(p.height.matrix[i]);
    }
}

// The -Range values (nanometres turned into file units by the files' one
// height scale), or the percentiles of what is drawn.
bool settle_scale(const view_settings& settings, const std::vector<view_panel>& panels, view_look* look,
                  std::string* message) {
    if (settings.has_range && settings.range_in_nm) {
        double nm_per_count = 0;
        if (settings.intensity) {
            *message = "A range in nanometres is for height pictures, not for -Intensity";
            return false;
        }
        if (!common_height_scale(panels.data(), panels.size(), &nm_per_count)) {
            *message = "A range in nanometres needs input data files that agree on one height scale";
            return false;
        }
        look->lo = settings.range_lo / nm_per_count;
        look->hi = settings.range_hi / nm_per_count;
        if (std::isfinite(look->lo) && std::isfinite(look->hi) && look->lo < look->hi) return true;
        *message = "The range in nanometres is beyond the file units of the input data files";
        return false;
    }
    if (settings.has_range) {
        look->lo = settings.range_lo;
        look->hi = settings.range_hi;
        return true;
    }
    std::vector<int32_t> values;
    std::size_t most = 0;
    for (const view_panel& p : panels) most += drawn_points(p, settings.intensity);
    values.reserve(most);
    for (const view_panel& p : panels) append_drawn_values(p, settings.intensity, &values);
    const int code = percentile_scale(&values, &look->lo, &look->hi);
    if (code != 0) *message = error_name(code);
    return code == 0;
}

// The colour scale on standard output, in every unit the legend shows.
void print_scale(const view_settings& settings, const std::vector<view_panel>& panels, const view_look& look) {
    const char* const source = settings.has_range ? "-Range" : "0.5th to 99.5th percentile";
    if (settings.intensity) {
        std::printf("Colour scale (%s): %g to %g intensity counts of the first frame\n", source, look.lo, look.hi);
        return;
    }
    double nm_per_count = 0;
    if (common_height_scale(panels.data(), panels.size(), &nm_per_count)) {
        std::printf("Colour scale (%s): %g to %g file units, %g to %g nm of surface height\n", source, look.lo, look.hi,
                    look.lo * nm_per_count, look.hi * nm_per_count);
    } else {
        std::printf("Colour scale (%s): %g to %g file units (no nanometres: %s)\n", source, look.lo, look.hi,
                    panels.size() > 1 ? "the files differ in height scale" : "the file has no height scale");
    }
    std::fflush(stdout);
}

bool run_view(const view_settings& settings, std::string* message) {
    if (!check_file_names(settings, message)) return false;
    std::vector<view_panel> panels(settings.inputs.size());
    for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
        panels[i].name = settings.inputs[i];
        if (!read_panel(settings.inputs[i], settings.intensity, &panels[i], message)) return false;
    }
    view_look look{settings.scale, settings.intensity, 0, 0, settings.shrink};
    if (!settings.scale_given) look.shrink = default_shrink(panels.data(), panels.size());
    if (!settle_scale(settings, panels, &look, message)) return false;
    const int code = write_view_picture(settings.output, panels.data(), panels.size(), look);
    if (code != 0) {
        *message = "Error writing output PNG file " + cli::quoted(settings.output) + ": " + error_name(code);
        return false;
    }
    print_scale(settings, panels, look);
    if (look.shrink > 1 && !settings.scale_given) {
        std::printf("Drawn at 1/%d size: each picture pixel is the mean of %d x %d camera pixels (-Scale 1 for full "
                    "size)\n",
                    look.shrink, look.shrink, look.shrink);
        std::fflush(stdout);
    }
    return true;
}

int run_entry(const std::vector<std::string>& args) {
    if (const std::optional<int> answered = cli::answer_request(args, VIEW_TOOL_NAME, USAGE)) return *answered;
    if (args.size() < 2) return cli::usage_failure(USAGE);
    view_settings settings;
    std::string message;
    const bool drawn = parse_view_arguments(args, &settings, &message) && run_view(settings, &message);
    return drawn ? cli::EXIT_OK : cli::failure(VIEW_TOOL_NAME, message);
}

}  // namespace

int spinmap_view_main(const std::vector<std::string>& args) {
    // The output is opened only once everything it needs is allocated.
    return cli::guard_allocation(VIEW_TOOL_NAME, [&] { return run_entry(args); });
}

}  // namespace spinmap
