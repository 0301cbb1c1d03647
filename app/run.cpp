// The rotation run on the console: the library's run with its report on
// standard output and its failure on standard error.
#include <cstdio>
#include <string_view>

#include "app.h"
#include "cli/cli.h"
#include <spinmap/platform/platform.h>

namespace spinmap {

bool run_rotation(const run_settings& settings, run_losses* losses) {
    const rotation_run_settings run{settings.input_path, settings.output_path, settings.angle,   settings.pivot_x,
                                    settings.pivot_y,    settings.no_interp,   settings.verbose};
    // Written as text: names in the report show every character as typed on
    // a Windows console too.
    const report_sink print = [](std::string_view text) { u_write_text(stdout, text); };
    rotation_run_result result;
    if (rotate_data_file(run, print, &result) != 0) {
        cli::failure(TOOL_NAME, result.message);
        return false;
    }
    std::fflush(stdout);
    if (losses != nullptr) *losses = {result.points_outside, result.points_in};
    return true;
}

}  // namespace spinmap
