// spinmap-export: writes the heights of a measurement data file in an open
// format.
#include "cli/cli.h"
#include "export/export.h"

int main(int argc, char** argv) {
    return spinmap::cli::program_main(spinmap::EXPORT_TOOL_NAME, argc, argv, spinmap::spinmap_export_main);
}
