// spinmap-info: prints what measurement data files hold.
#include "cli/cli.h"
#include "info/info.h"

int main(int argc, char** argv) {
    return spinmap::cli::program_main(spinmap::INFO_TOOL_NAME, argc, argv, spinmap::spinmap_info_main);
}
