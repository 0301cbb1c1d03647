// -AlignTo: the turn about a pivot that brings each file's fiducials onto
// the reference's, printed as spinmap's angle, pivot and command line.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "info/info.h"
#include <spinmap/platform/platform.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

// The key left-justified in the inspector's key column, " = ", the value and
// the line end.
void keyed_line(const char* key, const std::string& value) {
    char field[64];
    std::snprintf(field, sizeof field, "%-*s = ", INFO_KEY_WIDTH, key);
    u_write_text(stdout, field + value + "\n");
}

std::string printed(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The header of a data file; false with the message when it cannot be read.
bool read_header(const std::string& path, HeaderRecord* header, std::string* message) {
    const int code = u_is_regular_file(path) ? read_data_file(path, nullptr, header, nullptr, nullptr)
                                             : ERR_CANT_OPEN_FILE;
    if (code != 0) {
        *message = cli::unreadable_input(path, code);
        return false;
    }
    return true;
}

// "13 pairs (A 7, B 6)": the matched pairs and the groups they come from.
std::string pairs_text(const fiducial_alignment& a) {
    std::string text = std::to_string(a.fit.pairs) + " pairs";
    const char* separator = " (";
    for (int g = 0; g < FIDUCIAL_GROUPS; ++g) {
        if (a.per_group[g] == 0) continue;
        text += separator + std::string(1, char('A' + g)) + " " + std::to_string(a.per_group[g]);
        separator = ", ";
    }
    return a.fit.pairs > 0 ? text + ")" : text;
}

// A residual in pixels and, with the reference's lateral resolution, in
// micrometres.
std::string residual_text(double pixels, double um, const fiducial_alignment& a) {
    std::string text = printed("%g pixels", pixels);
    return a.metres_per_pixel > 0 ? text + printed(" (%g um)", um) : text;
}

void report_alignment(const std::string& reference, const std::string& path, const fiducial_alignment& a) {
    const rigid_fit& fit = a.fit;
    const std::string angle = shortest_number_text(fit.angle);
    keyed_line("Reference", cli::quoted(reference));
    keyed_line("InputFile", cli::quoted(path));
    keyed_line("Matched Fiducials", pairs_text(a));
    keyed_line("Angle", angle + " degrees");
    keyed_line("PivotX", shortest_number_text(fit.pivot_x) + " pixels");
    keyed_line("PivotY", shortest_number_text(fit.pivot_y) + " pixels");
    keyed_line("Residual RMS", residual_text(fit.rms, a.rms_um, a));
    keyed_line("Residual Largest", residual_text(fit.largest, a.largest_um, a));
    keyed_line("Command", alignment_command(path, a));
}

}  // namespace

int align_files(const info_settings& settings) {
    std::string message;
    HeaderRecord reference{};
    if (!read_header(settings.reference, &reference, &message)) return cli::failure(INFO_TOOL_NAME, message);
    int status = cli::EXIT_OK;
    for (std::size_t i = 0; i < settings.inputs.size(); ++i) {
        if (i > 0) std::printf("\n");
        const std::string& path = settings.inputs[i];
        HeaderRecord header{};
        if (!read_header(path, &header, &message)) {
            status = cli::failure(INFO_TOOL_NAME, message);
            continue;
        }
        const fiducial_alignment a = align_fiducials(header, reference);
        if (a.fit.refusal != alignment_refusal::none) {
            status = cli::failure(INFO_TOOL_NAME, "Cannot align " + cli::quoted(path) + " to " +
                                                      cli::quoted(settings.reference) + ": " +
                                                      alignment_refusal_text(a.fit));
            continue;
        }
        report_alignment(settings.reference, path, a);
    }
    std::fflush(stdout);
    return status;
}

}  // namespace spinmap
