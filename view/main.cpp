// spinmap-view: writes a PNG picture of measurement data files.
#include "cli/cli.h"
#include "view/view.h"

int main(int argc, char** argv) {
    return spinmap::cli::program_main(spinmap::VIEW_TOOL_NAME, argc, argv, spinmap::spinmap_view_main);
}
